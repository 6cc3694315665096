// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cwchar>

#include "platform/codepage.h"
#include "platform/utf8_paths.h"

namespace platform {
namespace {

std::wstring Wide(const std::string& utf8) {
    const std::u16string u = Utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string Utf8(const wchar_t* text, size_t length) {
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

std::string EnvironmentText(const char* name) {
    const std::wstring wname = Wide(name);
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD n =
            GetEnvironmentVariableW(wname.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) return {};
        if (n < value.size()) return Utf8(value.data(), n);
        value.resize(n);  // n counts the terminating NUL when the buffer was too small
    }
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    args.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) args.push_back(Utf8(wide[i], std::wcslen(wide[i])));
    LocalFree(wide);
    return args;
}

}  // namespace platform
