#pragma once
// Text conversions between the encodings the navigator and the PC use: Shift-JIS (code page
// 932) for texts stored on the device, UTF-16 as the exchange form, UTF-8 for files and the
// console and for every path inside the program, and the "ANSI" code page for texts sent to the
// navigator as bytes (a YMODEM file name), which on Linux is the locale's (UTF-8).
//
// Conversions never fail: a byte sequence that is not valid in the source encoding becomes
// the target's replacement character ('?' when encoding, U+30FB for undecodable Shift-JIS as
// the Japanese code page does, U+FFFD for broken UTF-8/UTF-16). NUL bytes pass unchanged.
#include <string>
#include <string_view>

namespace platform {

std::u16string ShiftJisToUtf16(std::string_view sjis);
std::string Utf16ToShiftJis(std::u16string_view text);
std::string ShiftJisToUtf8(std::string_view sjis);
std::string Utf8ToShiftJis(std::string_view utf8);

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

// The ANSI code page of this platform (UTF-8 on Linux).
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view text);

// Text to 7-bit ASCII bytes; every character outside ASCII becomes '?'.
std::string ToAsciiBytes(std::u16string_view text);

}  // namespace platform
