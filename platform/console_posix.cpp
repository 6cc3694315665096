#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/console.h"
#include "platform/output_file.h"

namespace platform {

namespace {

// Written by the handler only; lock-free, so reading and writing it is async-signal-safe.
std::atomic<int> gInterrupt{0};
static_assert(std::atomic<int>::is_always_lock_free);
// The self-pipe that wakes an event loop: read end, write end.
int gWake[2] = {-1, -1};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnInterrupt(int signal) {
    int none = 0;
    if (!gInterrupt.compare_exchange_strong(none, 128 + signal)) {
        // The second request: the user does not want to wait for the clean-up.
        RemovePendingOutput();
        _exit(128 + signal);
    }
    if (gWake[1] >= 0) {
        const int saved = errno;
        const char byte = 1;
        (void)!::write(gWake[1], &byte, 1);
        errno = saved;
    }
}

extern "C" void OnPlainInterrupt(int signal) {
    RemovePendingOutput();
    // Ended by the signal itself, as without a handler, so the caller sees which one.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

void UseUtf8Console() {}

void InstallInterruptHandler() {
    if (gWake[0] < 0 && ::pipe2(gWake, O_CLOEXEC | O_NONBLOCK) != 0) gWake[0] = gWake[1] = -1;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls go on: the job ends at its next look at the flag.
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) sigaction(signal, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

void RemoveOutputsOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnPlainInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals) sigaction(signal, &action, nullptr);
}

int InterruptWakeDescriptor() {
    return gWake[0];
}

void RestoreInterruptDefaults() {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    for (const int signal : kSignals) sigaction(signal, &standard, nullptr);
    gInterrupt.store(0);
    char drained[64];
    while (gWake[0] >= 0 && ::read(gWake[0], drained, sizeof drained) > 0) {
    }
}

int InterruptSignal() {
    return gInterrupt.load();
}

void InterruptHandled() {}

}  // namespace platform
