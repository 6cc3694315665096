#pragma once
// Texts as XML 1.0 can carry them. The writers escape markup themselves; what remains is that
// the navigator's names may hold control bytes (and a CSV file edited elsewhere broken UTF-8),
// which no XML reader accepts.
#include <string>
#include <string_view>

namespace mapexport {

// `text` with broken UTF-8 sequences replaced by U+FFFD and characters XML 1.0 forbids (NUL and
// the other C0 controls but tab, LF and CR; U+FFFE, U+FFFF) left out.
std::string XmlText(std::string_view text);

}  // namespace mapexport
