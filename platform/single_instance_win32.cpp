#include "platform/single_instance.h"

#include <windows.h>

#include "platform/codepage.h"
#include "platform/shell.h"

SingleInstanceLock::SingleInstanceLock(std::string lockPath)
    : path_(lockPath.empty() ? DefaultLockPath() : std::move(lockPath)) {}

SingleInstanceLock::~SingleInstanceLock() {
    // The system also drops the mutex when the process ends, however it ends.
    if (mutex_) CloseHandle(static_cast<HANDLE>(mutex_));
}

std::string SingleInstanceLock::DefaultLockPath() {
    return "Local\\CaddoraMaintenanceTool";
}

bool SingleInstanceLock::TryAcquire() {
    if (mutex_) return true;
    const std::u16string name = platform::Utf8ToUtf16(path_);
    HANDLE h = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(name.c_str()));
    const DWORD error = GetLastError();
    if (h == nullptr) {
        // Access denied: another copy (of another user or elevated) holds it. Otherwise the
        // name belongs to another kind of object, and the process list is the next best test.
        if (error == ERROR_ACCESS_DENIED) return false;
        return platform::CountProcessesNamed(platform::CurrentProcessName()) < 2;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        CloseHandle(h);
        return false;
    }
    mutex_ = h;
    return true;
}
