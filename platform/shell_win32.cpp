#include "platform/shell.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
// clang-format on

#include <cwchar>
#include <string>

#include "platform/codepage.h"

namespace platform {
namespace {

std::wstring Wide(const std::string& utf8) {
    const std::u16string u = Utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

std::string Narrow(const wchar_t* text) {
    return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(text), std::wcslen(text)));
}

}  // namespace

bool OpenUrl(const std::string& url) {
    if (url.empty()) return false;
    const std::wstring wurl = Wide(url);
    // Values above 32 mean success.
    const auto rc = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", wurl.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return rc > 32;
}

std::string FileUrl(const std::string& path) {
    return path;
}

std::string CurrentProcessName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p; ++p) {
        if (*p == L'\\' || *p == L'/') base = p + 1;
    }
    return Narrow(base);
}

int CountProcessesNamed(const std::string& name) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    const std::wstring wanted = Wide(name);
    int count = 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32FirstW(snap, &entry); ok; ok = Process32NextW(snap, &entry)) {
        // Process names are case-insensitive on this platform.
        if (_wcsicmp(entry.szExeFile, wanted.c_str()) == 0) ++count;
    }
    CloseHandle(snap);
    return count;
}

}  // namespace platform
