#pragma once
// Reports device changes: an entry appearing in or leaving the device directory, the directory
// itself being created or removed, and (when libudev is available) any udev event. A thread
// waits in poll() on the inotify descriptor, the udev monitor and an eventfd that stops it;
// nothing spins. A burst of changes within `coalesceMs` is reported once.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class DeviceWatcher {
public:
    struct Options {
        bool useUdev = true;
        // A change is reported this long after the first event of a burst.
        uint32_t coalesceMs = 100;
        // While the directory or its parent is missing, watches are retried this often.
        uint32_t retryMs = 1000;
    };

    // Calls `onChange` on the watcher's own thread, never while `Stop` has returned.
    DeviceWatcher(std::string directory, std::function<void()> onChange);
    DeviceWatcher(std::string directory, std::function<void()> onChange, Options options);
    ~DeviceWatcher();
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    // Starts watching; false when inotify or the stop descriptor cannot be created.
    bool Start();
    // Stops and joins the thread; a callback in progress finishes first. Idempotent.
    void Stop();

    // Reports a change from another source (libusb's hotplug callbacks), coalesced with the
    // rest. Any thread; nothing happens before Start or after Stop.
    void Notify();

    bool UdevActive() const { return udevActive_.load(); }
    // Number of changes reported so far.
    uint64_t Reports() const { return reports_.load(); }

private:
    struct Fds;
    void Run();
    // Adds the missing watches; true when the directory's watch was established now (it may
    // have gained entries before).
    bool EnsureWatches();

    std::string directory_;
    std::function<void()> onChange_;
    Options options_;
    std::string parent_;
    std::string base_;
    std::unique_ptr<Fds> fds_;
    std::thread thread_;
    std::mutex pokeMut_;  // Notify against Start and Stop
    std::atomic<bool> udevActive_{false};
    std::atomic<uint64_t> reports_{0};
};
