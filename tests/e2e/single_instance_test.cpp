// Two real caddora processes: the second one ends at once with 0 and shows nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string WindowProgram() {
    const char* bin = std::getenv("CADDORA_BIN_DIR");
    return std::string(bin ? bin : CADDORA_TEST_BIN_DIR) + "/caddora";
}

// A started process, ended with SIGTERM (and reaped) if the test has not reaped it.
class Process {
public:
    Process(const std::string& program, const std::vector<std::string>& env,
            const std::string& errorFile) {
        std::vector<char*> envp;
        for (char** e = environ; *e; ++e) envp.push_back(*e);
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Process() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return pid_; }
    bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    // The exit status, or nothing when the process still runs after `timeoutMs`.
    std::optional<int> WaitExit(int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (pid_ > 0) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return std::nullopt;
    }

private:
    pid_t pid_ = -1;
};

// True once some process holds the lock on `path`.
bool LockHeld(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);  // also drops the lock if this test got it
    return held;
}

bool WaitForLock(const std::string& path, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!LockHeld(path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

class SingleInstanceE2E : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = WindowProgram();
        if (program_.empty() || !fs::exists(program_)) GTEST_SKIP() << "caddora is not built";
        std::string tmpl = (fs::temp_directory_path() / "caddora-e2e-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
        fs::create_directory(root_ / "run");
        fs::permissions(root_ / "run", fs::perms::owner_all);
        fs::create_directory(root_ / "dev");
        env_ = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + (root_ / "run").string(),
                "CADDORA_DEVICE_DIR=" + (root_ / "dev").string()};
    }
    void TearDown() override {
        std::error_code ignored;
        if (!root_.empty()) fs::remove_all(root_, ignored);
    }
    std::string LockFile() const { return (root_ / "run" / "caddora.lock").string(); }
    std::string Output(const char* name) const { return (root_ / name).string(); }
    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string program_;
    fs::path root_;
    std::vector<std::string> env_;
};

TEST_F(SingleInstanceE2E, SecondCopyExitsAtOnceWithZeroAndSaysNothing) {
    Process first(program_, env_, Output("first.txt"));
    ASSERT_GT(first.Pid(), 0);
    ASSERT_TRUE(WaitForLock(LockFile(), 15000)) << Read(Output("first.txt"));
    ASSERT_TRUE(first.Running());

    const auto start = std::chrono::steady_clock::now();
    Process second(program_, env_, Output("second.txt"));
    const auto status = second.WaitExit(10000);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(status.has_value()) << "the second copy kept running";
    EXPECT_EQ(*status, 0);
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_EQ(Read(Output("second.txt")), "");
    EXPECT_TRUE(first.Running());
}

TEST_F(SingleInstanceE2E, AfterTheFirstCopyEndsTheNextOneRuns) {
    {
        Process first(program_, env_, Output("first.txt"));
        ASSERT_TRUE(WaitForLock(LockFile(), 15000)) << Read(Output("first.txt"));
        kill(first.Pid(), SIGKILL);  // no clean-up at all
        ASSERT_TRUE(first.WaitExit(5000).has_value());
    }
    EXPECT_FALSE(LockHeld(LockFile()));
    Process next(program_, env_, Output("next.txt"));
    ASSERT_TRUE(WaitForLock(LockFile(), 15000)) << Read(Output("next.txt"));
    EXPECT_TRUE(next.Running());
}
