#pragma once
// The window's texts are UTF-8 std::strings; Qt wants QString.
#include <QString>
#include <string_view>

inline QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
