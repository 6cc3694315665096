#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/scoped_device_dir.h"

namespace fs = std::filesystem;

class SingleInstanceTest : public ::testing::Test {
protected:
    ScopedDeviceDir dir_;  // a fresh temporary folder
    std::string LockPath() const { return dir_.Entry("caddora.lock"); }
};

TEST_F(SingleInstanceTest, SecondHolderIsRefusedUntilTheFirstGoes) {
    auto first = std::make_unique<SingleInstanceLock>(LockPath());
    ASSERT_TRUE(first->TryAcquire());
    EXPECT_TRUE(first->Held());
    EXPECT_TRUE(first->TryAcquire());  // asking again keeps it

    SingleInstanceLock second(LockPath());
    EXPECT_FALSE(second.TryAcquire());
    EXPECT_FALSE(second.Held());
    first.reset();
    EXPECT_TRUE(second.TryAcquire());
}

TEST_F(SingleInstanceTest, AnotherProcessIsRefusedAndAnEndedOneFreesTheLock) {
    SingleInstanceLock mine(LockPath());
    ASSERT_TRUE(mine.TryAcquire());
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SingleInstanceLock theirs(LockPath());
        _exit(theirs.TryAcquire() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child got the lock";

    // A holder that dies without cleaning up does not block the next start.
    const std::string other = dir_.Entry("other.lock");
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SingleInstanceLock theirs(other);
        if (!theirs.TryAcquire()) _exit(1);
        _exit(0);  // no destructor runs
    }
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    SingleInstanceLock next(other);
    EXPECT_TRUE(next.TryAcquire());
}

TEST_F(SingleInstanceTest, DefaultPathIsPerUserRuntimeFolder) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
    EXPECT_EQ(SingleInstanceLock::DefaultLockPath(), dir_.Path() + "/caddora.lock");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SingleInstanceLock::DefaultLockPath(),
              "/tmp/caddora-" + std::to_string(getuid()) + ".lock");
    if (old) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    SingleInstanceLock defaulted;
    EXPECT_EQ(defaulted.Path(), SingleInstanceLock::DefaultLockPath());
}

TEST_F(SingleInstanceTest, ALinkPlantedAtTheLockPathIsNotFollowed) {
    const std::string target = dir_.Entry("victim");
    fs::create_symlink(target, LockPath());
    SingleInstanceLock lock(LockPath());
    // It falls back to the process list, whose answer depends on what else runs now.
    lock.TryAcquire();
    EXPECT_FALSE(lock.Held());
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(fs::is_symlink(LockPath()));
}
