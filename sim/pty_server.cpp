#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/tick.h"
#include "sim/memory_dump.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

// Replies not yet taken by the PC are kept up to this many bytes; beyond it they are dropped
// (a PC that never reads must not make the simulator grow without bound).
constexpr size_t kMaxOutgoingBytes = size_t{4} << 20;
// While nobody holds the slave open the master reports hang-up at once; poll it again after
// this pause instead of spinning.
constexpr uint32_t kHangupBackoffMs = 20;
constexpr size_t kReadChunk = 4096;
// Before vanishing, the last replies get this long to be read by the PC: closing the master
// discards whatever still waits in the slave's input queue.
constexpr uint32_t kVanishLingerMinMs = 20;
constexpr uint32_t kVanishLingerMaxMs = 1000;
constexpr int kVanishPollMs = 10;

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Latest of two ticks (wrap-around safe).
uint32_t Later(uint32_t a, uint32_t b) {
    return platform::TickDiff(a, b) >= 0 ? a : b;
}

}  // namespace

SimServer::SimServer(SimConfig config) : config_(std::move(config)), model_(config_.device) {
    if (config_.receiverFactory) model_.SetReceiverFactory(config_.receiverFactory);
}

SimServer::~SimServer() {
    Stop();
}

std::string SimServer::Start() {
    if (thread_.joinable()) return devicePath_;
    if (config_.name.empty() || config_.name.find('/') != std::string::npos) {
        throw std::invalid_argument("device name must be a plain file name: '" + config_.name +
                                    "'");
    }
    const std::string& dir = config_.deviceDir;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw std::system_error(ec, "cannot create device directory " + dir);
    devicePath_ = dir + "/" + config_.name;

    try {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0) ThrowErrno("posix_openpt");
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) ThrowErrno("grantpt/unlockpt");
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0) ThrowErrno("ptsname_r");
        slavePath_ = name;
        // Raw 8-bit line on the slave side: the master's termios are the slave's.
        termios tio{};
        if (::tcgetattr(master_, &tio) != 0) ThrowErrno("tcgetattr");
        ::cfmakeraw(&tio);
        if (::tcsetattr(master_, TCSANOW, &tio) != 0) ThrowErrno("tcsetattr");
        int flags = ::fcntl(master_, F_GETFL);
        if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) ThrowErrno("fcntl");
        // Holding the slave open keeps the master from reporting hang-up between the PC's
        // connections. This descriptor is never read, so it cannot take the PC's bytes.
        slaveHold_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slaveHold_ < 0) ThrowErrno("open " + slavePath_);
        wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd_ < 0) ThrowErrno("eventfd");

        struct stat st {};
        if (::lstat(devicePath_.c_str(), &st) == 0) {
            struct stat target {};
            // A link left by a killed simulator points at a pty that no longer exists.
            if (S_ISLNK(st.st_mode) && ::stat(devicePath_.c_str(), &target) != 0) {
                ::unlink(devicePath_.c_str());
            } else {
                throw std::runtime_error("device name already in use: " + devicePath_);
            }
        }
        if (::symlink(slavePath_.c_str(), devicePath_.c_str()) != 0)
            ThrowErrno("symlink " + devicePath_);
        linkOwned_ = true;

        if (!config_.journalPath.empty()) {
            journalFile_.open(config_.journalPath, std::ios::trunc);
            if (!journalFile_)
                throw std::runtime_error("cannot write journal " + config_.journalPath);
        }
    } catch (...) {
        CloseEndpoints();
        CloseFd(wakeFd_);
        throw;
    }

    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = true;
        vanished_ = false;
    }
    stopRequested_ = false;
    outgoing_.clear();
    outgoingBytes_ = 0;
    vanishPending_ = false;
    nextTimer_.reset();
    hangupUntil_.reset();
    thread_ = std::thread([this] { Run(); });
    return devicePath_;
}

void SimServer::Stop() {
    if (thread_.joinable()) {
        stopRequested_ = true;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    bool wasRunning = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wasRunning = running_;
        running_ = false;
    }
    CloseEndpoints();
    // Only now: the serving thread may have been inside poll() on it until the join.
    CloseFd(wakeFd_);
    if (wasRunning) WriteDumpIfWanted();
    changed_.notify_all();
}

bool SimServer::Running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

bool SimServer::Vanished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return vanished_;
}

bool SimServer::WaitForFrames(uint32_t count, uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return model_.FramesReceived() >= count; });
}

bool SimServer::WaitForVanish(uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return vanished_; });
}

std::vector<JournalEntry> SimServer::Journal() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.Journal();
}

SparseMemory SimServer::WrittenMemory() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.WrittenMemory();
}

DeviceMode SimServer::Mode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.Mode();
}

uint32_t SimServer::FramesReceived() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.FramesReceived();
}

uint32_t SimServer::ResetCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.ResetCount();
}

bool SimServer::YmodemRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.YmodemRequested();
}

void SimServer::WriteJournal(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    WriteJournalFile(path, model_.Journal());
}

void SimServer::WriteDump(const std::string& dir) const {
    std::lock_guard<std::mutex> lock(mutex_);
    WriteMemoryDump(dir, model_);
}

void SimServer::WriteDumpIfWanted() {
    if (config_.dumpDir.empty()) return;
    try {
        WriteDump(config_.dumpDir);
    } catch (const std::exception&) {
        // A dump is a convenience; failing to write it must not take the server down.
    }
}

void SimServer::Run() {
    while (!stopRequested_) {
        uint32_t now = platform::TickCount();
        if (hangupUntil_ && platform::TickReached(now, *hangupUntil_)) hangupUntil_.reset();
        const bool frontDue =
            !outgoing_.empty() && platform::TickReached(now, outgoing_.front().due);
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {hangupUntil_ ? -1 : master_, POLLIN, 0}};
        if (frontDue) fds[1].events |= POLLOUT;
        int r = ::poll(fds, 2, PollTimeout(now));
        if (r < 0 && errno != EINTR) break;
        if (stopRequested_) break;
        now = platform::TickCount();
        if (fds[1].revents & POLLIN) {
            HandleInput(now);
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            hangupUntil_ = now + kHangupBackoffMs;  // nobody attached
        }
        RunTimer(now);
        WriteDuePieces(now);
        if (vanishPending_ && outgoing_.empty()) {
            Vanish();
            return;
        }
    }
}

int SimServer::PollTimeout(uint32_t now) const {
    std::optional<uint32_t> wait;
    auto consider = [&](uint32_t due) {
        uint32_t left = platform::TickRemaining(now, due);
        if (!wait || left < *wait) wait = left;
    };
    if (!outgoing_.empty() && !platform::TickReached(now, outgoing_.front().due)) {
        consider(outgoing_.front().due);
    }
    if (nextTimer_) consider(*nextTimer_);
    if (hangupUntil_) consider(*hangupUntil_);
    return wait ? static_cast<int>(*wait) : -1;  // otherwise input or Stop() wakes the poll
}

void SimServer::HandleInput(uint32_t now) {
    uint8_t buffer[kReadChunk];
    ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) {
        if (n == 0 || errno == EIO) hangupUntil_ = now + kHangupBackoffMs;
        return;
    }
    FeedResult result;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        result = model_.Feed({buffer, static_cast<size_t>(n)}, now);
    }
    Schedule(result, now);
    AppendJournal();
    changed_.notify_all();
}

void SimServer::RunTimer(uint32_t now) {
    std::optional<uint32_t> interval;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        interval = model_.TimerIntervalMs();
        if (interval && nextTimer_ && platform::TickReached(now, *nextTimer_)) {
            FeedResult result = model_.Timer(now);
            Schedule(result, now);
            interval = model_.TimerIntervalMs();
            nextTimer_.reset();
        }
    }
    if (!interval) {
        nextTimer_.reset();
    } else if (!nextTimer_) {
        nextTimer_ = now + *interval;
    }
}

void SimServer::Schedule(const FeedResult& result, uint32_t now) {
    for (const Reply& reply : result.replies) {
        if (outgoingBytes_ + reply.bytes.size() > kMaxOutgoingBytes) continue;
        uint32_t due = now + reply.delayMs;
        if (!outgoing_.empty()) due = Later(due, outgoing_.back().due);  // keep the order
        const size_t step = reply.splitBytes == 0 ? reply.bytes.size() : reply.splitBytes;
        for (size_t at = 0; at < reply.bytes.size(); at += step) {
            size_t len = std::min(step, reply.bytes.size() - at);
            outgoing_.push_back(Piece{{reply.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                       reply.bytes.begin() + static_cast<std::ptrdiff_t>(at + len)},
                                      0,
                                      due});
            due += reply.splitGapMs;
        }
        outgoingBytes_ += reply.bytes.size();
    }
    if (result.vanish) vanishPending_ = true;
}

void SimServer::WriteDuePieces(uint32_t now) {
    while (!outgoing_.empty() && platform::TickReached(now, outgoing_.front().due)) {
        Piece& piece = outgoing_.front();
        ssize_t n = ::write(master_, piece.bytes.data() + piece.written,
                            piece.bytes.size() - piece.written);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) return;  // the line is full: wait for POLLOUT
            n = static_cast<ssize_t>(piece.bytes.size() - piece.written);  // undeliverable: drop
        }
        piece.written += static_cast<size_t>(n);
        if (piece.written < piece.bytes.size()) return;
        outgoingBytes_ -= std::min(outgoingBytes_, piece.bytes.size());
        outgoing_.pop_front();
    }
}

void SimServer::AppendJournal() {
    if (!journalFile_.is_open()) return;
    std::vector<JournalEntry> fresh;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto& journal = model_.Journal();
        fresh.assign(journal.begin() + static_cast<std::ptrdiff_t>(journalWritten_), journal.end());
        journalWritten_ = journal.size();
    }
    for (const JournalEntry& e : fresh) journalFile_ << FormatJournalLine(e) << '\n';
    journalFile_.flush();
}

void SimServer::LingerBeforeVanish() {
    const uint32_t start = platform::TickCount();
    for (;;) {
        const uint32_t now = platform::TickCount();
        int waiting = 0;
        if (::ioctl(slaveHold_, TIOCINQ, &waiting) != 0) waiting = 0;
        const uint32_t spent = static_cast<uint32_t>(platform::TickDiff(now, start));
        if ((spent >= kVanishLingerMinMs && waiting == 0) || spent >= kVanishLingerMaxMs) return;
        pollfd wake{wakeFd_, POLLIN, 0};
        if (::poll(&wake, 1, kVanishPollMs) > 0 || stopRequested_) return;
    }
}

void SimServer::Vanish() {
    LingerBeforeVanish();
    CloseEndpoints();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
    }
    WriteDumpIfWanted();
    if (config_.onVanish) config_.onVanish();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        vanished_ = true;
    }
    changed_.notify_all();
}

void SimServer::CloseEndpoints() {
    // The link goes first, so a device check never finds a path whose pty is already gone.
    if (linkOwned_) {
        char target[256];
        ssize_t n = ::readlink(devicePath_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == slavePath_) {
            ::unlink(devicePath_.c_str());
        }
        linkOwned_ = false;
    }
    CloseFd(master_);
    CloseFd(slaveHold_);
    if (journalFile_.is_open()) journalFile_.close();
}

}  // namespace sim
