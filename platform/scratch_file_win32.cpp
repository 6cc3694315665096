#include <fcntl.h>
#include <io.h>

#include <windows.h>

#include <cstdio>
#include <random>
#include <string>

#include "platform/byte_stream.h"
#include "platform/scratch_file.h"

namespace platform {

std::FILE* OpenScratchFile() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) throw StreamError("cannot find the temporary folder");
    std::mt19937_64 rng{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        wchar_t name[32];
        swprintf(name, 32, L"caddora-scratch-%012llx.tmp",
                 static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
        // Deleted by the system when the last handle goes, also when the process is killed.
        HANDLE handle = CreateFileW((std::wstring(folder) + name).c_str(),
                                    GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            break;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_RDWR);
        if (fd < 0) {
            CloseHandle(handle);
            break;
        }
        std::FILE* file = _fdopen(fd, "w+b");
        if (file) return file;
        _close(fd);
        break;
    }
    throw StreamError("cannot create a scratch file in the temporary folder");
}

}  // namespace platform
