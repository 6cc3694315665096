// Device changes: entries of the device directory, the directory itself, bursts, stopping.
#include "platform/device_watcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "support/scoped_device_dir.h"

namespace fs = std::filesystem;

namespace {

class Counter {
public:
    void Bump() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++count_;
        }
        cv_.notify_all();
    }
    int Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }
    bool WaitFor(int count, int timeoutMs = 3000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return count_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_ = 0;
};

DeviceWatcher::Options NoUdev(uint32_t coalesceMs = 50, uint32_t retryMs = 100) {
    DeviceWatcher::Options options;
    options.useUdev = false;
    options.coalesceMs = coalesceMs;
    options.retryMs = retryMs;
    return options;
}

void Touch(const fs::path& path) {
    std::ofstream(path).put('x');
}

}  // namespace

class DeviceWatcherTest : public ::testing::Test {
protected:
    ScopedDeviceDir root_;
    Counter changes_;
};

TEST_F(DeviceWatcherTest, EntriesAppearingAndLeavingAreReported) {
    const fs::path dir = root_.Path();
    DeviceWatcher watcher(
        dir.string(), [this] { changes_.Bump(); }, NoUdev());
    ASSERT_TRUE(watcher.Start());
    // Nothing happened yet: nothing reported.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(changes_.Count(), 0);

    fs::create_symlink("/dev/null", dir / "navigator0");
    ASSERT_TRUE(changes_.WaitFor(1));
    fs::remove(dir / "navigator0");
    ASSERT_TRUE(changes_.WaitFor(2));
    Touch(dir / "a");
    fs::rename(dir / "a", dir / "b");
    ASSERT_TRUE(changes_.WaitFor(3));
}

TEST_F(DeviceWatcherTest, DirectoryCreatedLaterAndRemovedIsFollowed) {
    const fs::path dir = fs::path(root_.Path()) / "caddora";
    DeviceWatcher watcher(
        dir.string(), [this] { changes_.Bump(); }, NoUdev());
    ASSERT_TRUE(watcher.Start());

    fs::create_directory(dir);
    ASSERT_TRUE(changes_.WaitFor(1));
    const int afterCreate = changes_.Count();
    // Entries of the new directory are watched too.
    Touch(dir / "navigator0");
    ASSERT_TRUE(changes_.WaitFor(afterCreate + 1));
    const int afterEntry = changes_.Count();
    fs::remove_all(dir);
    ASSERT_TRUE(changes_.WaitFor(afterEntry + 1));
    const int afterRemove = changes_.Count();
    fs::create_directory(dir);
    Touch(dir / "navigator1");
    ASSERT_TRUE(changes_.WaitFor(afterRemove + 1));
}

TEST_F(DeviceWatcherTest, MissingParentIsRetriedUntilItExists) {
    const fs::path parent = fs::path(root_.Path()) / "run";
    const fs::path dir = parent / "caddora";
    DeviceWatcher watcher(
        dir.string(), [this] { changes_.Bump(); }, NoUdev(50, 50));
    ASSERT_TRUE(watcher.Start());
    fs::create_directories(dir);
    ASSERT_TRUE(changes_.WaitFor(1));
    const int before = changes_.Count();
    Touch(dir / "navigator0");
    ASSERT_TRUE(changes_.WaitFor(before + 1));
}

TEST_F(DeviceWatcherTest, ABurstIsReportedOnce) {
    const fs::path dir = root_.Path();
    DeviceWatcher watcher(
        dir.string(), [this] { changes_.Bump(); }, NoUdev(300));
    ASSERT_TRUE(watcher.Start());
    for (int i = 0; i < 40; ++i) Touch(dir / std::string("e").append(std::to_string(i)));
    ASSERT_TRUE(changes_.WaitFor(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(changes_.Count(), 1);
    EXPECT_EQ(watcher.Reports(), 1u);
}

TEST_F(DeviceWatcherTest, UnrelatedNamesBesideTheDirectoryAreIgnored) {
    const fs::path dir = fs::path(root_.Path()) / "caddora";
    fs::create_directory(dir);
    DeviceWatcher watcher(
        dir.string(), [this] { changes_.Bump(); }, NoUdev());
    ASSERT_TRUE(watcher.Start());
    Touch(fs::path(root_.Path()) / "caddora-other");
    fs::create_directory(fs::path(root_.Path()) / "else");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(changes_.Count(), 0);
}

TEST_F(DeviceWatcherTest, StopIsPromptAndEndsTheReports) {
    const fs::path dir = root_.Path();
    DeviceWatcher watcher(
        dir.string(), [this] { changes_.Bump(); }, NoUdev());
    ASSERT_TRUE(watcher.Start());
    const auto start = std::chrono::steady_clock::now();
    watcher.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    Touch(dir / "late");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(changes_.Count(), 0);
    watcher.Stop();  // twice is fine
}

TEST_F(DeviceWatcherTest, AThrowingHandlerDoesNotEndTheWatching) {
    const fs::path dir = root_.Path();
    DeviceWatcher watcher(
        dir.string(),
        [this] {
            changes_.Bump();
            throw std::runtime_error("handler failed");
        },
        NoUdev());
    ASSERT_TRUE(watcher.Start());
    Touch(dir / "one");
    ASSERT_TRUE(changes_.WaitFor(1));
    Touch(dir / "two");
    ASSERT_TRUE(changes_.WaitFor(2));
}

TEST_F(DeviceWatcherTest, WithTheUdevMonitorInThePollDirectoryChangesStillCount) {
    const fs::path dir = root_.Path();
    DeviceWatcher::Options options;  // udev on, as the window uses it
    options.coalesceMs = 50;
    DeviceWatcher watcher(
        dir.string(), [this] { changes_.Bump(); }, options);
    ASSERT_TRUE(watcher.Start());
    Touch(dir / "navigator0");
    ASSERT_TRUE(changes_.WaitFor(1));
}

TEST_F(DeviceWatcherTest, NotifiedChangesFromOtherSourcesAreCoalescedLikeTheRest) {
    DeviceWatcher watcher(
        root_.Path(), [this] { changes_.Bump(); }, NoUdev(100));
    watcher.Notify();  // not started: dropped
    ASSERT_TRUE(watcher.Start());
    for (int i = 0; i < 5; ++i) watcher.Notify();
    ASSERT_TRUE(changes_.WaitFor(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(changes_.Count(), 1) << "one burst, one report";
    watcher.Stop();
    watcher.Notify();  // stopped: dropped, no crash
    EXPECT_EQ(watcher.Reports(), 1u);
}
