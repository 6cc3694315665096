#pragma once
// End-to-end runs of the jobs: caddora-sim serving a virtual navigator on a pty in a fresh
// device directory, caddora-cli running a job against it, and readers for what reached the
// device (the simulator's frame journal and memory dump).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_run.h"

namespace e2e {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

using testsupport::Slurp;

inline Bytes ReadBytes(const std::string& path) {
    const std::string s = Slurp(path);
    return Bytes(s.begin(), s.end());
}

inline void WriteBytes(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

inline std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
}

inline uint32_t Le32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
inline uint16_t Le16(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// One line of the simulator's journal: "<seq> <class> <id> <length> <payload hex or ->".
struct Frame {
    uint32_t sequence = 0;
    uint8_t cls = 0;
    uint8_t id = 0;
    uint32_t length = 0;
    Bytes payload;
    bool Is(uint8_t c, uint8_t i) const { return cls == c && id == i; }
};

inline std::vector<Frame> ReadJournal(const std::string& path) {
    std::vector<Frame> frames;
    std::istringstream in(Slurp(path));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Frame f;
        std::string cls, id, hex;
        if (!(fields >> f.sequence >> cls >> id >> f.length >> hex)) continue;
        f.cls = static_cast<uint8_t>(std::stoul(cls, nullptr, 16));
        f.id = static_cast<uint8_t>(std::stoul(id, nullptr, 16));
        if (hex != "-") {
            for (size_t i = 0; i + 1 < hex.size(); i += 2) {
                f.payload.push_back(
                    static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
            }
        }
        frames.push_back(std::move(f));
    }
    return frames;
}

inline std::vector<Frame> FramesOf(const std::vector<Frame>& all, uint8_t cls, uint8_t id) {
    std::vector<Frame> out;
    for (const auto& f : all) {
        if (f.Is(cls, id)) out.push_back(f);
    }
    return out;
}

// A navigator running the patch program whose version text also names the boot stage: both
// mode queries find their text at once instead of waiting out their 2,000 ms.
inline const std::vector<std::string> kQuickPatch = {"--mode", "patch", "--version-text",
                                                     "MDL4200 BOOT E3 PATCH V1.02"};

inline std::vector<std::string> With(std::vector<std::string> base,
                                     const std::vector<std::string>& more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

// Frame kinds the jobs send.
inline constexpr uint8_t kFwpg[2] = {0xF4, 0x05};
inline constexpr uint8_t kRun[2] = {0xF4, 0x06};
inline constexpr uint8_t kSpinorRead[2] = {0xF4, 0x31};
inline constexpr uint8_t kReset[2] = {0x06, 0x40};

using CliRun = testsupport::ChildRun;

// A temporary folder with a device directory, and the programs under test.
class JobRun : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("CADDORA_BIN_DIR");
        const std::string dir = bin ? bin : CADDORA_TEST_BIN_DIR;
        cli_ = dir + "/caddora-cli";
        sim_ = dir + "/caddora-sim";
        ASSERT_TRUE(fs::exists(cli_) && fs::exists(sim_)) << "programs not built in " << dir;
        std::string pattern = (fs::temp_directory_path() / "caddora-jobs-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(DeviceDir());
        // The programs run against a virtual navigator: the repository's stand-in images do.
        ::setenv("CADDORA_ALLOW_STAND_IN", "1", 1);
        // Imports fill a logbook of their own, never the user's, also when run by hand.
        ::setenv("CADDORA_LOGBOOK", Path("logbook.sqlite3").c_str(), 1);
    }

    void TearDown() override {
        StopSim();
        std::error_code ec;
        if (!root_.empty()) fs::remove_all(root_, ec);
    }

    std::string Path(const std::string& name) const { return (root_ / name).string(); }
    const std::string& CliPath() const { return cli_; }
    std::string DeviceDir() const { return Path("dev"); }
    std::string JournalPath() const { return Path("journal.txt"); }
    std::string DumpDir() const { return Path("dump"); }

    // Starts caddora-sim with `args`, its journal and dump in this folder; waits for "ready".
    void StartSim(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"--device-dir", DeviceDir(),  "--journal",
                                        JournalPath(),  "--dump-dir", DumpDir()};
        all.insert(all.end(), args.begin(), args.end());
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        const std::string errPath = Path("sim.stderr");
        simPid_ = fork();
        if (simPid_ == 0) {
            dup2(out[1], 1);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(err, 2);
            close(out[0]);
            testsupport::ExecProgram(sim_, all);
        }
        close(out[1]);
        std::string seen;
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (seen.find("ready\n") == std::string::npos && Clock::now() < deadline) {
            pollfd p{out[0], POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buf[256];
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            seen.append(buf, static_cast<size_t>(n));
        }
        close(out[0]);
        ASSERT_NE(seen.find("ready\n"), std::string::npos)
            << "caddora-sim did not start: " << Slurp(errPath);
    }

    // Stops the simulator (SIGTERM), which writes its memory dump.
    void StopSim() {
        if (simPid_ <= 0) return;
        // Frames nobody answers (the reset) may still be on their way into the journal: stop
        // once it has been quiet for a moment.
        std::error_code ec;
        uintmax_t size = fs::file_size(JournalPath(), ec);
        const auto settle = Clock::now() + std::chrono::seconds(2);
        for (int quiet = 0; quiet < 10 && Clock::now() < settle;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const uintmax_t now = fs::file_size(JournalPath(), ec);
            quiet = now == size ? quiet + 1 : 0;
            size = now;
        }
        kill(simPid_, SIGTERM);
        int status = 0;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (waitpid(simPid_, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                kill(simPid_, SIGKILL);
                waitpid(simPid_, &status, 0);
                ADD_FAILURE() << "caddora-sim did not stop";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        simPid_ = -1;
    }

    // Runs caddora-cli COMMAND ARGS --device-dir <this test's>; killed after 90 s.
    CliRun Cli(const std::vector<std::string>& args, bool withDeviceDir = true) {
        const auto start = Clock::now();
        return WaitCli(SpawnCli(args, withDeviceDir), start);
    }

    // Runs caddora-cli like Cli and, once `ready()` holds (looked at every 2 ms), sends it
    // `signals` one right after the other; `ms` is then the time from the first signal to the
    // exit.
    CliRun CliSignalled(const std::vector<std::string>& args, const std::function<bool()>& ready,
                        const std::vector<int>& signals) {
        pid_t pid = -1;
        return CliActing(
            args, ready,
            [&] {
                for (const int signal : signals) kill(pid, signal);
            },
            &pid);
    }

    // Runs caddora-cli like Cli and, once `ready()` holds (looked at every 2 ms), calls `act`;
    // `ms` is then the time from `act` to the exit. `pid`, when given, is set before `act`.
    CliRun CliActing(const std::vector<std::string>& args, const std::function<bool()>& ready,
                     const std::function<void()>& act, pid_t* pid = nullptr) {
        const pid_t child = SpawnCli(args, true);
        if (pid) *pid = child;
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (!ready() && Clock::now() < deadline && waitpid(child, nullptr, WNOHANG) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_TRUE(ready()) << "the job never reached the point of the action";
        const auto start = Clock::now();
        act();
        return WaitCli(child, start);
    }

    // Freezes the simulator (SIGSTOP): the navigator stops answering, its pty stays.
    void PauseSim() {
        if (simPid_ > 0) kill(simPid_, SIGSTOP);
    }

    // Kills the simulator outright (SIGKILL): the navigator's end of the pty goes at once.
    // The link it leaves in the device directory is removed, so another one can start.
    void KillSim() {
        if (simPid_ <= 0) return;
        kill(simPid_, SIGKILL);
        waitpid(simPid_, nullptr, 0);
        simPid_ = -1;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(DeviceDir(), ec)) fs::remove(entry, ec);
    }

    // Runs caddora-cli with its stderr on a terminal (a pty); `err` is what the terminal got.
    CliRun CliOnTerminal(const std::vector<std::string>& args) {
        int master = -1, slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
            return {};
        }
        std::vector<std::string> all = args;
        all.insert(all.end(), {"--device-dir", DeviceDir()});
        const std::string outPath = Path("cli.stdout");
        const pid_t pid = fork();
        if (pid == 0) {
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(out, 1);
            dup2(slave, 2);
            close(master);
            if (chdir(root_.c_str()) != 0) _exit(126);
            testsupport::ExecProgram(cli_, all);
        }
        close(slave);
        CliRun run;
        int status = 0;
        bool exited = false;
        const auto deadline = Clock::now() + std::chrono::seconds(90);
        while (Clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) {
                char buf[4096];
                const ssize_t n = read(master, buf, sizeof buf);
                if (n > 0) run.err.append(buf, static_cast<size_t>(n));
                if (n > 0) continue;
            }
            if (exited) break;  // one more look after the exit drained the terminal
            exited = waitpid(pid, &status, WNOHANG) == pid;
        }
        if (!exited) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "caddora-cli did not finish within 90 s";
        }
        close(master);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.out = Slurp(outPath);
        return run;
    }

    std::vector<Frame> Journal() const { return ReadJournal(JournalPath()); }

    // The simulator's state.txt after StopSim: key -> value.
    std::map<std::string, std::string> DumpState() const {
        std::map<std::string, std::string> state;
        std::istringstream in(Slurp(DumpDir() + "/state.txt"));
        std::string line;
        while (std::getline(in, line)) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) state[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return state;
    }

    // The bytes the device stored from `address` on, from the dump after StopSim; nothing
    // when no written region starts there.
    std::optional<Bytes> DumpRegion(uint32_t address) const {
        std::istringstream in(Slurp(DumpDir() + "/regions.txt"));
        std::string addr, file;
        size_t length = 0;
        while (in >> addr >> length >> file) {
            if (std::stoul(addr, nullptr, 16) == address) return ReadBytes(DumpDir() + "/" + file);
        }
        return std::nullopt;
    }

    // A packed file: 0A 11, sub-header, gzip of (digest + payload), made with the system's
    // gzip and openssl (the digest is wrong on purpose when `digest` is given).
    std::string Packed(const std::string& name, const Bytes& payload,
                       Bytes sub = {2, 0, 0, 0, 0, 0, 0, 0},
                       std::optional<Bytes> digest = std::nullopt) {
        const std::string payloadPath = Path(name + ".payload");
        WriteBytes(payloadPath, payload);
        const std::string digestPath = Path(name + ".md5");
        if (digest) {
            WriteBytes(digestPath, *digest);
        } else {
            EXPECT_EQ(
                Shell("openssl md5 -binary < " + Quote(payloadPath) + " > " + Quote(digestPath)),
                0);
        }
        const std::string gz = Path(name + ".gz");
        EXPECT_EQ(Shell("cat " + Quote(digestPath) + " " + Quote(payloadPath) + " | gzip -n > " +
                        Quote(gz)),
                  0);
        Bytes file = {0x0A, 0x11, static_cast<uint8_t>(sub.size() >> 8),
                      static_cast<uint8_t>(sub.size())};
        file.insert(file.end(), sub.begin(), sub.end());
        const Bytes body = ReadBytes(gz);
        file.insert(file.end(), body.begin(), body.end());
        const std::string path = Path(name);
        WriteBytes(path, file);
        return path;
    }

    static Bytes Pattern(size_t n, uint32_t seed) {
        Bytes b(n);
        uint32_t x = seed * 2654435761u + 1;
        for (auto& v : b) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            v = static_cast<uint8_t>(x);
        }
        return b;
    }

    fs::path root_;

private:
    pid_t SpawnCli(const std::vector<std::string>& args, bool withDeviceDir) {
        std::vector<std::string> all = args;
        if (withDeviceDir) {
            all.push_back("--device-dir");
            all.push_back(DeviceDir());
        }
        return testsupport::SpawnToFiles(cli_, all, Path("cli.stdout"), Path("cli.stderr"),
                                         root_.string());
    }

    CliRun WaitCli(pid_t pid, Clock::time_point start) {
        return testsupport::WaitChild(pid, cli_, start, std::chrono::seconds(90),
                                      Path("cli.stdout"), Path("cli.stderr"));
    }

    std::string cli_;
    std::string sim_;
    pid_t simPid_ = -1;
};

}  // namespace e2e
