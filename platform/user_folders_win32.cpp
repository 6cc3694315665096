// clang-format off
#include <windows.h>
#include <shlobj.h>
// clang-format on

#include <atomic>
#include <cwchar>
#include <string>

#include "platform/codepage.h"
#include "platform/user_folders.h"

namespace platform {
namespace {

std::wstring Wide(const std::string& utf8) {
    const std::u16string u = Utf8ToUtf16(utf8);
    return std::wstring(u.begin(), u.end());
}

// A folder the shell knows, as UTF-8; empty when it has none.
std::string KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) {
        folder =
            Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(path), std::wcslen(path)));
    }
    CoTaskMemFree(path);
    return folder;
}

}  // namespace

std::string DocumentsFolder() {
    return KnownFolder(FOLDERID_Documents);
}

std::string UserDataFolder() {
    return KnownFolder(FOLDERID_LocalAppData);
}

std::string UserStateFolder() {
    return UserDataFolder();
}

bool FolderWritable(const std::string& folder) {
    if (folder.empty()) return false;
    // Access rights, virtualisation and read-only media all decide: try what the job will do,
    // create a file there. (GetTempFileNameW is no test: some systems report a name although
    // the file could not be created.) The file goes when its handle is closed.
    static std::atomic<unsigned> serial{0};
    std::wstring probe = Wide(folder);
    if (!probe.empty() && probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
    probe += L"caddora-probe-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
             std::to_wstring(serial++) + L".tmp";
    const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

}  // namespace platform
