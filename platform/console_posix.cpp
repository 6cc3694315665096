#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "platform/console.h"
#include "platform/output_file.h"

namespace platform {

namespace {

// Written by the handler only; lock-free, so reading and writing it is async-signal-safe.
std::atomic<int> gInterrupt{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnInterrupt(int signal) {
    int none = 0;
    if (!gInterrupt.compare_exchange_strong(none, 128 + signal)) {
        // The second request: the user does not want to wait for the clean-up.
        RemovePendingOutput();
        _exit(128 + signal);
    }
}

}  // namespace

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

void UseUtf8Console() {}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls go on: the job ends at its next look at the flag.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

int InterruptSignal() {
    return gInterrupt.load();
}

void InterruptHandled() {}

}  // namespace platform
