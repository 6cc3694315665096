// The YMODEM sender against a real receiver written elsewhere: lrzsz's rb on the far end of a
// socat pseudo-terminal pair, fed by the serial-port variant and by the receive-buffer variant
// over a device stream in serial mode. A run passes when rb exits 0 and the file it wrote
// equals the payload byte for byte.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "transport/serial_port.h"
#include "transfer/ymodem.h"
#include "transport/sync_stream.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kReadTimeoutMs = 25000;
// rb repeats its 'C' only every 10 s; the first one comes at once.
constexpr int kFirstCMs = 15000;

Bytes Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

void WriteBytes(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

std::optional<Bytes> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// A child process; killed (by its own pid) and reaped when the object goes.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0) pid_ = -1;
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGTERM);
            Wait(3000);
            if (!status_) {
                ::kill(pid_, SIGKILL);
                Wait(3000);
            }
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }
    // The exit status, or nothing when the child still runs after `ms`.
    std::optional<int> Wait(int ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (!status_) {
            int st = 0;
            const pid_t r = ::waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                break;
            }
            if (r < 0 || Clock::now() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return status_;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

bool WaitForPath(const fs::path& p, int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
        std::error_code ec;
        if (fs::exists(p, ec)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// A socat pty pair: ttyA for the sender, ttyB for rb, which runs in rx/.
class RbBench : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "caddora-rb-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "rx");
        socat_ = std::make_unique<Child>(std::vector<std::string>{
            "socat", "pty,raw,echo=0,link=" + TtyA(), "pty,raw,echo=0,link=" + TtyB()});
        ASSERT_TRUE(socat_->Started()) << "socat is not installed";
        ASSERT_TRUE(WaitForPath(TtyA(), 5000) && WaitForPath(TtyB(), 5000));
    }
    void TearDown() override {
        rb_.reset();
        socat_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string TtyA() const { return (dir_ / "ttyA").string(); }
    std::string TtyB() const { return (dir_ / "ttyB").string(); }

    // Starts rb only now that the sender's side is open: opening a port drops what waits in
    // it, and rb's first 'C' would be lost with it.
    void StartRb() {
        const std::string script = "cd '" + (dir_ / "rx").string() +
                                   "' && exec timeout 60 rb -vv -y <'" + TtyB() + "' >'" + TtyB() +
                                   "' 2>'" + (dir_ / "rb.log").string() + "'";
        rb_ = std::make_unique<Child>(std::vector<std::string>{"sh", "-c", script});
        ASSERT_TRUE(rb_->Started());
    }

    // rb's exit status (after at most 30 s) and what it wrote under `name`.
    void ExpectReceived(const std::string& name, const Bytes& payload) {
        const auto status = rb_->Wait(30000);
        ASSERT_TRUE(status.has_value()) << "rb still runs";
        EXPECT_EQ(*status, 0) << RbLog();
        const auto got = ReadBytes(dir_ / "rx" / name);
        ASSERT_TRUE(got.has_value()) << "rb wrote no file " << name << "\n" << RbLog();
        EXPECT_EQ(got->size(), payload.size());
        EXPECT_TRUE(*got == payload) << "content differs";
    }

    std::string RbLog() const {
        std::ifstream in(dir_ / "rb.log");
        return "rb's log:\n" + std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string WritePayload(const std::string& name, const Bytes& payload) {
        const std::string path = (dir_ / name).string();
        WriteBytes(path, payload);
        return path;
    }

    fs::path dir_;
    std::unique_ptr<Child> socat_;
    std::unique_ptr<Child> rb_;
};

// Reads until rb's 'C' comes, as the caller of the sender does.
template <typename ReadByte>
bool AwaitFirstC(ReadByte read) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kFirstCMs);
    while (Clock::now() < deadline) {
        try {
            if (read() == 'C') return true;
        } catch (const TimeoutException&) {
        }
    }
    return false;
}

struct Case {
    size_t size;
    std::string name;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.size << " bytes as " << c.name;
}

class RbSerialPort : public RbBench, public ::testing::WithParamInterface<Case> {};
class RbDeviceStream : public RbBench, public ::testing::WithParamInterface<Case> {};

}  // namespace

TEST_P(RbSerialPort, ReceivesTheFileWhole) {
    const Case c = GetParam();
    const Bytes payload = Random(c.size, static_cast<uint32_t>(c.size) + 1);
    const std::string path = WritePayload(c.name, payload);

    transport::SerialPort port;
    ASSERT_TRUE(port.Open(TtyA(), 115200));
    port.ReadTimeout(1000);
    StartRb();
    ASSERT_TRUE(AwaitFirstC([&] { return port.ReadByte(); })) << RbLog();
    port.ReadTimeout(kReadTimeoutMs);

    platform::FileStream file(path);
    transfer::Ymodem modem;
    EXPECT_TRUE(modem.sendPackets(file, port, false));
    EXPECT_TRUE(modem.finished);
    EXPECT_EQ(modem.bytesLeft, 0);
    ExpectReceived(c.name, payload);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RbSerialPort,
                         ::testing::Values(Case{0, "empty.bin"}, Case{1, "one.bin"},
                                           Case{1023, "k1023.bin"}, Case{1024, "k1024.bin"},
                                           Case{1025, "k1025.bin"},
                                           Case{300 * 1024 + 17, "big.bin"},
                                           Case{1025,
                                                "\xE3\x83\x95\xE3\x82\xA1\xE3\x83\xBC"
                                                "\xE3\x83\xA0 v2.bin"}));

TEST_P(RbDeviceStream, ReceivesTheFileWhole) {
    const Case c = GetParam();
    const Bytes payload = Random(c.size, static_cast<uint32_t>(c.size) + 2);
    const std::string path = WritePayload(c.name, payload);

    SyncStream stream("");
    stream.ComName(TtyA());
    stream.BaudRate(115200);
    stream.CheckComStatus(true);
    ASSERT_TRUE(stream.Open());
    auto buffer = stream.GetReadBuffer();
    buffer->ReadTimeout(1000);
    StartRb();
    ASSERT_TRUE(AwaitFirstC([&] { return buffer->ReadByte(); })) << RbLog();
    buffer->ReadTimeout(kReadTimeoutMs);

    platform::FileStream file(path);
    transfer::Ymodem modem;
    EXPECT_TRUE(modem.sendPackets(file, *buffer, false));
    EXPECT_EQ(modem.bytesLeft, 0);
    ExpectReceived(c.name, payload);
    stream.Dispose();
}

INSTANTIATE_TEST_SUITE_P(Sizes, RbDeviceStream,
                         ::testing::Values(Case{0, "empty.bin"}, Case{1025, "k1025.bin"},
                                           Case{300 * 1024 + 17, "big.bin"},
                                           Case{1, "\xE5\x9B\xBA\xE4\xBB\xB6.bin"}));
