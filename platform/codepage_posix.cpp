#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace platform {
namespace {

// One iconv conversion with substitution: an input unit that cannot be converted is skipped
// and `replacement` (already in the target encoding) is written in its place.
std::string Convert(const char* from, const char* to, const char* data, size_t size,
                    size_t unit, std::string_view replacement) {
    std::string out;
    if (size == 0) return out;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error(std::string("code page conversion unavailable: ") + from +
                                 " -> " + to);
    }
    out.resize(size * 4 + 16);
    char* in = const_cast<char*>(data);
    size_t inLeft = size;
    size_t used = 0;
    while (inLeft > 0) {
        char* dst = out.data() + used;
        size_t dstLeft = out.size() - used;
        size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ (invalid unit) or EINVAL (truncated sequence at the end).
        size_t skip = (errno == EINVAL) ? inLeft : std::min(unit, inLeft);
        if (out.size() - used < replacement.size()) out.resize(out.size() * 2 + replacement.size());
        std::memcpy(out.data() + used, replacement.data(), replacement.size());
        used += replacement.size();
        in += skip;
        inLeft -= skip;
    }
    iconv_close(cd);
    out.resize(used);
    return out;
}

std::u16string BytesToU16(const std::string& bytes) {
    std::u16string s(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < s.size(); ++i) {
        s[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return s;
}

std::string U16ToBytes(std::u16string_view s) {
    std::string bytes(s.size() * 2, '\0');
    for (size_t i = 0; i < s.size(); ++i) {
        bytes[2 * i] = static_cast<char>(s[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(s[i] >> 8);
    }
    return bytes;
}

constexpr std::string_view kU30FB_LE{"\xFB\x30", 2};
constexpr std::string_view kUFFFD_LE{"\xFD\xFF", 2};
constexpr std::string_view kUFFFD_UTF8{"\xEF\xBF\xBD", 3};

}  // namespace

std::u16string ShiftJisToUtf16(std::string_view sjis) {
    return BytesToU16(Convert("CP932", "UTF-16LE", sjis.data(), sjis.size(), 1, kU30FB_LE));
}

std::string Utf16ToShiftJis(std::u16string_view text) {
    std::string bytes = U16ToBytes(text);
    return Convert("UTF-16LE", "CP932", bytes.data(), bytes.size(), 2, "?");
}

std::string ShiftJisToUtf8(std::string_view sjis) { return Utf16ToUtf8(ShiftJisToUtf16(sjis)); }

std::string Utf8ToShiftJis(std::string_view utf8) { return Utf16ToShiftJis(Utf8ToUtf16(utf8)); }

std::u16string Utf8ToUtf16(std::string_view utf8) {
    return BytesToU16(Convert("UTF-8", "UTF-16LE", utf8.data(), utf8.size(), 1, kUFFFD_LE));
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string bytes = U16ToBytes(text);
    return Convert("UTF-16LE", "UTF-8", bytes.data(), bytes.size(), 2, kUFFFD_UTF8);
}

std::u16string AnsiToUtf16(std::string_view ansi) { return Utf8ToUtf16(ansi); }

std::string Utf16ToAnsi(std::u16string_view text) { return Utf16ToUtf8(text); }

std::string ToAsciiBytes(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace platform
