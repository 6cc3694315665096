#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"
#include "platform/output_file.h"

namespace platform {

namespace {

constexpr int kInterruptStatus = 130;
// A closing console ends the process when the handler returns; the system allows it about
// 5 s, of which the clean-up may use this much.
constexpr DWORD kCloseGraceMs = 4500;

std::atomic<int> gInterrupt{0};
std::atomic<bool> gHandled{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            break;
        default:
            return FALSE;
    }
    int none = 0;
    if (!gInterrupt.compare_exchange_strong(none, kInterruptStatus)) {
        RemovePendingOutput();
        ExitProcess(kInterruptStatus);
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Returning lets the system end the process: give the job its clean-up first.
        const ULONGLONG end = GetTickCount64() + kCloseGraceMs;
        while (!gHandled.load() && GetTickCount64() < end) Sleep(20);
    }
    return TRUE;
}

// Removes the outputs being written and lets the next handler (the system's) end the process.
BOOL WINAPI OnPlainConsoleEvent(DWORD) {
    RemovePendingOutput();
    return FALSE;
}

}  // namespace

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

void UseUtf8Console() {
    SetConsoleOutputCP(CP_UTF8);
}

void InstallInterruptHandler() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RemoveOutputsOnInterrupt() {
    SetConsoleCtrlHandler(OnPlainConsoleEvent, TRUE);
}

int InterruptWakeDescriptor() {
    return -1;
}

void RestoreInterruptDefaults() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    gInterrupt.store(0);
    gHandled.store(false);
}

int InterruptSignal() {
    return gInterrupt.load();
}

void InterruptHandled() {
    gHandled.store(true);
}

}  // namespace platform
