// caddora-sim as a process: what it prints, what it serves, and how it ends.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "sim/frame_journal.h"
#include "sim/sim_test_support.h"

extern char** environ;

using namespace simtest;

namespace {

namespace fs = std::filesystem;

std::string SimBinary() {
    const char* dir = std::getenv("CADDORA_BIN_DIR");
    return std::string(dir ? dir : CADDORA_TEST_BIN_DIR) + "/caddora-sim";
}

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        args.insert(args.begin(), SimBinary());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        stdout_ = out[0];
    }
    ~SimProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stdout_ >= 0) ::close(stdout_);
    }

    // Next line of the program's stdout, nothing at the time-out or at its end.
    std::optional<std::string> Line(uint32_t timeoutMs) {
        const uint32_t deadline = platform::TickCount() + timeoutMs;
        for (;;) {
            size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            uint32_t left = platform::TickRemaining(platform::TickCount(), deadline);
            pollfd p{stdout_, POLLIN, 0};
            if (left == 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return std::nullopt;
            char chunk[256];
            ssize_t n = ::read(stdout_, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    // Exit status once the process ended within the time, -1 otherwise.
    int Wait(uint32_t timeoutMs) {
        const uint32_t deadline = platform::TickCount() + timeoutMs;
        while (!platform::TickReached(platform::TickCount(), deadline)) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            platform::SleepMs(10);
        }
        return -1;
    }

    void Signal(int sig) { ::kill(pid_, sig); }
    bool Started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    bool exited_ = false;
    std::string buffer_;
};

// One request, the frames that come back within the time.
std::vector<Parsed> Exchange(const std::string& path, const Bytes& request) {
    Client client(path);
    client.Send(request);
    return ParseAll(client.ReadFrames(1, 3000));
}

class SimCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(SimBinary())) << "caddora-sim not built";
        base_ = fs::temp_directory_path() /
                ("simcli_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(base_);
        fs::create_directories(base_);
    }
    void TearDown() override { fs::remove_all(base_); }
    std::string Dir(const char* name) const { return (base_ / name).string(); }

    fs::path base_;
};

}  // namespace

TEST_F(SimCliTest, PrintsPathAndReadyServesAndCleansUpOnSigterm) {
    SimProcess sim({"--device-dir", Dir("dev"), "--mode", "boot", "--nak-frame", "2", "--journal",
                    Dir("journal.txt"), "--dump-dir", Dir("dump"), "--name", "nav1"});
    ASSERT_TRUE(sim.Started());
    EXPECT_EQ(sim.Line(5000), Dir("dev") + "/nav1");
    EXPECT_EQ(sim.Line(5000), "ready");
    const std::string path = Dir("dev") + "/nav1";

    auto version = Exchange(path, VersionPoll());
    ASSERT_EQ(version.size(), 1u);
    EXPECT_NE(std::string(version[0].payload.begin(), version[0].payload.end()).find("BOOT"),
              std::string::npos);
    auto refused = Exchange(path, Program(0x26000, 0, {1, 2}));
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_TRUE(IsNak(refused[0], 0xF4, 0x05));
    auto accepted = Exchange(path, Program(0x26000, 1, {1, 2}));
    ASSERT_EQ(accepted.size(), 1u);
    EXPECT_TRUE(IsAck(accepted[0], 0xF4, 0x05));

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(5000), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    EXPECT_EQ(sim::ReadJournalFile(Dir("journal.txt")).size(), 3u);
    std::ifstream state(Dir("dump") + "/state.txt");
    std::string mode, frames;
    std::getline(state, mode);
    std::getline(state, frames);
    EXPECT_EQ(mode, "mode=boot");
    EXPECT_EQ(frames, "frames=3");
}

TEST_F(SimCliTest, RejectsBadOptionsWithUsageStatus) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--mode", "sleepy"},
                                          {"--spinor-id", "zz"},
                                          {"--vanish-after", "0"},
                                          {"--empty-flash", "--synthetic-points", "3"}}) {
        args.push_back("--device-dir");
        args.push_back(Dir("dev"));
        SimProcess sim(args);
        ASSERT_TRUE(sim.Started());
        EXPECT_EQ(sim.Wait(5000), 2) << args[0];
        EXPECT_FALSE(fs::exists(Dir("dev") + "/navigator0"));
    }
}
