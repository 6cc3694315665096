#include "transport/link_fd.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace transport {

namespace {

// Callers leave as soon as they are woken; this only bounds a Close() that races with a
// caller stuck in something unexpected. The last caller releases the descriptor in any case.
constexpr auto kLeaveWait = std::chrono::milliseconds(2500);

}  // namespace

LinkFd::LinkFd() = default;

LinkFd::~LinkFd() {
    std::lock_guard<std::mutex> lock(mut_);
    closed_ = true;
    ReleaseDescriptor();
    if (wakeFd_ >= 0) ::close(wakeFd_);
    wakeFd_ = -1;
}

bool LinkFd::OpenExclusive(const std::string& path) {
    std::lock_guard<std::mutex> lock(mut_);
    if (fd_ >= 0 || path.empty()) return false;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // flock belongs to this open file description: a second open of the same device, here or
    // in another process, fails even for root, which TIOCEXCL does not stop.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        ::close(fd);
        return false;
    }
    // No TIOCEXCL: the terminal keeps that flag when the process dies, and then nobody but
    // root can open the device again. The flock ends with the process.
    terminal_ = ::isatty(fd) == 1;
    fd_ = fd;
    wakeFd_ = wake;
    closed_ = false;
    return true;
}

void LinkFd::Close() {
    std::unique_lock<std::mutex> lock(mut_);
    if (closed_) return;
    closed_ = true;
    if (wakeFd_ >= 0) {
        // Never drained: every later Wait() sees the link closed at once.
        uint64_t one = 1;
        ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
        (void)ignored;
    }
    if (users_ == 0) {
        ReleaseDescriptor();
        return;
    }
    leftCv_.wait_for(lock, kLeaveWait, [this] { return fd_ < 0; });
}

bool LinkFd::IsOpen() const {
    std::lock_guard<std::mutex> lock(mut_);
    return !closed_;
}

bool LinkFd::Enter() {
    std::lock_guard<std::mutex> lock(mut_);
    if (closed_ || fd_ < 0) return false;
    ++users_;
    return true;
}

void LinkFd::Leave() {
    std::lock_guard<std::mutex> lock(mut_);
    if (--users_ == 0 && closed_) {
        ReleaseDescriptor();
        leftCv_.notify_all();
    }
}

void LinkFd::ReleaseDescriptor() {
    if (fd_ < 0) return;
    ::close(fd_);  // also drops the flock
    fd_ = -1;
}

LinkFd::Ready LinkFd::Wait(short events, int timeoutMs, int stopFd) {
    pollfd fds[3] = {{fd_, events, 0}, {wakeFd_, POLLIN, 0}, {stopFd, POLLIN, 0}};
    const nfds_t count = stopFd >= 0 ? 3 : 2;
    int r;
    do {
        r = ::poll(fds, count, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return Ready::Invalid;
    if (r == 0) return Ready::Timeout;
    if (fds[1].revents != 0) return Ready::Closed;
    if (count == 3 && (fds[2].revents & POLLIN)) return Ready::Stopped;
    const short got = fds[0].revents;
    if (got & POLLNVAL) return Ready::Invalid;
    if (got & events) return Ready::Ready;
    if (got & (POLLHUP | POLLERR)) return Ready::HangUp;
    return Ready::Timeout;
}

bool LinkFd::HungUp() {
    pollfd p{fd_, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return true;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool MakeRawTerminal(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    // TCSANOW: bytes the device sent before the open stay readable.
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace transport
