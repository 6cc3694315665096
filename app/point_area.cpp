#include "app/point_area.h"

#include <cctype>
#include <charconv>

#include "app/point_record.h"
#include "protocol/patch_upload.h"

namespace {
constexpr uint32_t kRecord = static_cast<uint32_t>(kPointRecordLength);

std::string_view Trim(std::string_view text) {
    auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}
}  // namespace

uint32_t PointArea::RecordCount() const {
    return length / kRecord + (length % kRecord != 0 ? 1u : 0u);
}

uint32_t PointArea::RequestAddress(uint32_t i) const {
    return start + kRecord * i;
}

uint16_t PointArea::RequestLength(uint32_t i) const {
    const uint32_t left = length - kRecord * i;
    return static_cast<uint16_t>(left < kRecord ? left : kRecord);
}

std::optional<uint32_t> ParseAreaLength(std::string_view text) {
    text = Trim(text);
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front()))) {
        return std::nullopt;
    }
    uint32_t value = 0;
    const auto* end = text.data() + text.size();
    const auto parsed = std::from_chars(text.data(), end, value, 10);
    if (parsed.ec != std::errc{} || parsed.ptr != end) return std::nullopt;
    return value;
}

uint32_t ParseAreaStart(std::string_view text) {
    // The same hexadecimal form as the patch entry address box.
    return ParsePatchEntryAddress(text).value_or(0);
}
