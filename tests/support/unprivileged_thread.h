#pragma once
// Runs a function on a thread of its own that has lost, for good, the capabilities that let
// root ignore file modes (effective and permitted), so that file modes decide even for access(),
// which takes root's permitted set. Tests run as root in CI; other threads keep their rights.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>
#include <utility>

namespace testsupport {

template <class F>
void RunWithoutFileCapabilities(F&& f) {
    std::thread([&f] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        ::syscall(SYS_capget, &header, caps);
        const __u32 dropped = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        caps[0].effective &= ~dropped;
        caps[0].permitted &= ~dropped;
        caps[0].inheritable &= ~dropped;
        ::syscall(SYS_capset, &header, caps);
        std::forward<F>(f)();
    }).join();
}

}  // namespace testsupport
