#include <pthread.h>
#include <windows.h>

#include <string>

#include "platform/codepage.h"
#include "platform/thread_name.h"

namespace platform {
namespace {

// SetThreadDescription exists from Windows 10 1607 on; older systems keep unnamed threads.
using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);

SetDescription Describer() {
    static const SetDescription fn = [] {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        return kernel ? reinterpret_cast<SetDescription>(
                            reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")))
                      : nullptr;
    }();
    return fn;
}

void Name(HANDLE thread, const char* name) {
    const SetDescription describe = Describer();
    if (!describe || !thread || !name) return;
    const std::u16string wide = Utf8ToUtf16(name);
    describe(thread, reinterpret_cast<PCWSTR>(wide.c_str()));
}

}  // namespace

void SetThreadName(std::thread& thread, const char* name) {
    // std::thread runs on a winpthreads thread; it knows the system handle.
    Name(pthread_gethandle(thread.native_handle()), name);
}

void SetCurrentThreadName(const char* name) {
    Name(GetCurrentThread(), name);
}

}  // namespace platform
