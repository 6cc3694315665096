// The Windows device watcher: device-change messages reach its hidden window (Wine never sends
// any, so the test posts them as the system would) and a burst is reported once.
#include <gtest/gtest.h>
// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/device_watcher.h"

namespace {

HWND WatcherWindow() {
    return FindWindowExW(HWND_MESSAGE, nullptr, L"CaddoraDeviceWatcher", nullptr);
}

void WaitFor(const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited < ms && !done(); waited += 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

// Changes come as the system's messages to the hidden window (posted here as the system would)
// or through Notify (libusb's hotplug on other builds); either way a burst is reported once.
TEST(DeviceWatcherWin32, BurstsAreReportedOnceEach) {
    enum class Source { SystemMessage, Notify };
    for (const Source source : {Source::SystemMessage, Source::Notify}) {
        std::atomic<int> calls{0};
        DeviceWatcher::Options options;
        options.coalesceMs = 150;
        DeviceWatcher watcher(
            "", [&] { ++calls; }, options);
        watcher.Notify();  // not started: dropped
        ASSERT_TRUE(watcher.Start());
        HWND window = WatcherWindow();
        ASSERT_NE(window, nullptr);

        for (int burst = 1; burst <= 2; ++burst) {
            for (int i = 0; i < 5; ++i) {
                if (source == Source::Notify) {
                    watcher.Notify();
                } else {
                    ASSERT_TRUE(PostMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
                }
            }
            WaitFor([&] { return calls.load() >= burst; }, 5000);
            // Nothing more comes from the same burst.
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            EXPECT_EQ(calls.load(), burst) << static_cast<int>(source);
        }
        EXPECT_EQ(watcher.Reports(), 2u);
        watcher.Stop();
        EXPECT_EQ(WatcherWindow(), nullptr);
        watcher.Notify();  // stopped: dropped, no crash
        EXPECT_EQ(watcher.Reports(), 2u);
    }
}
