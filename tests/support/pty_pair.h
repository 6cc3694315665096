#pragma once
// A pseudo-terminal pair for tests: the slave path stands for a device (or serial port) that
// the code under test opens; the test plays the device's side on the master. Both sides start
// in raw mode, so no byte is echoed or translated.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class PtyPair {
public:
    PtyPair() {
        termios raw{};
        ::cfmakeraw(&raw);
        raw.c_cflag |= CLOCAL | CREAD;
        int slave = -1;
        char name[128] = {};
        if (::openpty(&master_, &slave, name, &raw, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
        // Only the code under test holds the slave; the pty lives while the master is open.
        ::close(slave);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        slavePath_ = name;
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }

    // The device sends: writes every byte (waiting at most 2 s for room).
    bool Send(const std::vector<uint8_t>& bytes) { return Send(bytes.data(), bytes.size()); }
    bool Send(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (size > 0) {
            ssize_t n = ::write(master_, p, size);
            if (n > 0) {
                p += n;
                size -= static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (std::chrono::steady_clock::now() > deadline) return false;
            pollfd pfd{master_, POLLOUT, 0};
            ::poll(&pfd, 1, 10);
        }
        return true;
    }

    // The device receives: bytes until `want` arrived or `timeoutMs` passed.
    std::vector<uint8_t> Receive(size_t want, int timeoutMs) {
        std::vector<uint8_t> got;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < want) {
            uint8_t chunk[4096];
            ssize_t n = ::read(master_, chunk,
                               sizeof chunk < want - got.size() ? sizeof chunk : want - got.size());
            if (n > 0) {
                got.insert(got.end(), chunk, chunk + n);
                continue;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd pfd{master_, POLLIN, 0};
            ::poll(&pfd, 1, static_cast<int>(left.count()));
        }
        return got;
    }

    // Everything that arrives until the line stays quiet for `quietMs`.
    std::vector<uint8_t> ReceiveAll(int quietMs) {
        std::vector<uint8_t> got;
        for (;;) {
            auto more = Receive(65536, quietMs);
            if (more.empty()) return got;
            got.insert(got.end(), more.begin(), more.end());
        }
    }

    // The device goes away: the slave side hangs up.
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};
