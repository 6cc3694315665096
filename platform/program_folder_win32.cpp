#include "platform/program_folder.h"

#include <windows.h>

#include <string>

#include "platform/codepage.h"

namespace platform {

std::string ProgramFolder() {
    // Long paths: grow the buffer until the whole name fits.
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return ".";
        if (n < buf.size()) {
            buf.resize(n);
            break;
        }
        buf.resize(buf.size() * 2);
    }
    const auto slash = buf.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return ".";
    const std::u16string folder(reinterpret_cast<const char16_t*>(buf.data()), slash);
    return Utf16ToUtf8(folder);
}

}  // namespace platform
