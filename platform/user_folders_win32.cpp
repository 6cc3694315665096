// clang-format off
#include <windows.h>
#include <shlobj.h>
// clang-format on

#include <cwchar>
#include <string>

#include "platform/codepage.h"
#include "platform/user_folders.h"

namespace platform {
namespace {

std::wstring Wide(const std::string& ansi) {
    const std::u16string u = AnsiToUtf16(ansi);
    return std::wstring(u.begin(), u.end());
}

}  // namespace

std::string DocumentsFolder() {
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, 0, nullptr, &path))) {
        folder =
            Utf16ToAnsi(std::u16string(reinterpret_cast<const char16_t*>(path), std::wcslen(path)));
    }
    CoTaskMemFree(path);
    return folder;
}

bool FolderWritable(const std::string& folder) {
    if (folder.empty()) return false;
    // Access rights, virtualisation and read-only media all decide: try what the job will do.
    wchar_t probe[MAX_PATH + 16];
    if (GetTempFileNameW(Wide(folder).c_str(), L"cad", 0, probe) == 0) return false;
    DeleteFileW(probe);
    return true;
}

}  // namespace platform
