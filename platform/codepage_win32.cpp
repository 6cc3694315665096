#include "platform/codepage.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

namespace platform {
namespace {

constexpr UINT kShiftJis = 932;

int CheckedLength(size_t size) {
    if (size > static_cast<size_t>(INT_MAX)) throw std::length_error("text too long to convert");
    return static_cast<int>(size);
}

// Without MB_ERR_INVALID_CHARS the system substitutes undecodable input: U+30FB for code page
// 932, U+FFFD for UTF-8.
std::u16string Decode(UINT codePage, std::string_view bytes) {
    if (bytes.empty()) return {};
    const int inLen = CheckedLength(bytes.size());
    const int n = MultiByteToWideChar(codePage, 0, bytes.data(), inLen, nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), inLen, reinterpret_cast<wchar_t*>(out.data()),
                        n);
    return out;
}

// Code page 932 and the ANSI code page replace what they cannot encode by '?', without
// "best fit" look-alikes; UTF-8 takes U+FFFD for broken surrogates.
std::string Encode(UINT codePage, std::u16string_view text) {
    if (text.empty()) return {};
    const int inLen = CheckedLength(text.size());
    const auto* in = reinterpret_cast<const wchar_t*>(text.data());
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* defaultChar = utf8 ? nullptr : "?";
    int n = WideCharToMultiByte(codePage, flags, in, inLen, nullptr, 0, defaultChar, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, in, inLen, out.data(), n, defaultChar, nullptr);
    return out;
}

}  // namespace

std::u16string ShiftJisToUtf16(std::string_view sjis) {
    return Decode(kShiftJis, sjis);
}

std::string Utf16ToShiftJis(std::u16string_view text) {
    return Encode(kShiftJis, text);
}

std::string ShiftJisToUtf8(std::string_view sjis) {
    return Utf16ToUtf8(ShiftJisToUtf16(sjis));
}

std::string Utf8ToShiftJis(std::string_view utf8) {
    return Utf16ToShiftJis(Utf8ToUtf16(utf8));
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    return Decode(CP_UTF8, utf8);
}

std::string Utf16ToUtf8(std::u16string_view text) {
    return Encode(CP_UTF8, text);
}

std::u16string AnsiToUtf16(std::string_view ansi) {
    return Decode(CP_ACP, ansi);
}

std::string Utf16ToAnsi(std::u16string_view text) {
    return Encode(CP_ACP, text);
}

std::string ToAsciiBytes(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace platform
