#pragma once
// Frames built and taken apart independently of the codec, so the simulator's tests check the
// bytes on the wire rather than the codec's view of them.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "sim/device_model.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes RawFrame(uint8_t cls, uint8_t id, const Bytes& payload = {}) {
    Bytes f{0xF1,
            0xD9,
            cls,
            id,
            static_cast<uint8_t>(payload.size()),
            static_cast<uint8_t>(payload.size() >> 8)};
    f.insert(f.end(), payload.begin(), payload.end());
    uint8_t a = 0, b = 0;
    for (size_t i = 2; i < f.size(); ++i) {
        a = static_cast<uint8_t>(a + f[i]);
        b = static_cast<uint8_t>(b + a);
    }
    f.push_back(a);
    f.push_back(b);
    return f;
}

inline void PutU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutU16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

inline Bytes VersionPoll() {
    return RawFrame(0x0A, 0x04);
}
inline Bytes BootMemRequest() {
    return RawFrame(0x0A, 0x07);
}
inline Bytes SpinorIdPoll() {
    return RawFrame(0xF4, 0x30);
}
inline Bytes Reset() {
    return RawFrame(0x06, 0x40, {0x00});
}
inline Bytes Program(uint32_t address, uint16_t index, const Bytes& data) {
    Bytes p;
    PutU32(p, address);
    PutU16(p, index);
    p.insert(p.end(), data.begin(), data.end());
    return RawFrame(0xF4, 0x05, p);
}
inline Bytes RunAt(uint32_t address) {
    Bytes p;
    PutU32(p, address);
    return RawFrame(0xF4, 0x06, p);
}
inline Bytes SpinorRead(uint32_t address, uint16_t length) {
    Bytes p;
    PutU32(p, address);
    PutU16(p, length);
    return RawFrame(0xF4, 0x31, p);
}

struct Parsed {
    uint8_t cls = 0;
    uint8_t id = 0;
    Bytes payload;
};

// Every well-formed frame in `bytes`, in order; anything else is skipped.
inline std::vector<Parsed> ParseAll(const Bytes& bytes) {
    std::vector<Parsed> out;
    size_t p = 0;
    while (p + 8 <= bytes.size()) {
        if (bytes[p] != 0xF1 || bytes[p + 1] != 0xD9) {
            ++p;
            continue;
        }
        size_t n = bytes[p + 4] | (bytes[p + 5] << 8);
        if (p + n + 8 > bytes.size()) break;
        uint8_t a = 0, b = 0;
        for (size_t i = p + 2; i < p + 6 + n; ++i) {
            a = static_cast<uint8_t>(a + bytes[i]);
            b = static_cast<uint8_t>(b + a);
        }
        if (a != bytes[p + 6 + n] || b != bytes[p + 7 + n]) {
            ++p;
            continue;
        }
        out.push_back(
            {bytes[p + 2], bytes[p + 3], Bytes(bytes.begin() + p + 6, bytes.begin() + p + 6 + n)});
        p += n + 8;
    }
    return out;
}

inline Bytes AllBytes(const sim::FeedResult& r) {
    Bytes all;
    for (const sim::Reply& reply : r.replies)
        all.insert(all.end(), reply.bytes.begin(), reply.bytes.end());
    return all;
}

inline std::vector<Parsed> Replies(const sim::FeedResult& r) {
    return ParseAll(AllBytes(r));
}

inline bool IsAck(const Parsed& f, uint8_t cls, uint8_t id) {
    return f.cls == 0x05 && f.id == 0x01 && f.payload == Bytes{cls, id};
}
inline bool IsNak(const Parsed& f, uint8_t cls, uint8_t id) {
    return f.cls == 0x05 && f.id == 0x00 && f.payload == Bytes{cls, id};
}

// The patch image the way the tool uploads it: 1,024-byte packets from 0x26000.
inline std::vector<Bytes> PatchPackets(const Bytes& image) {
    std::vector<Bytes> frames;
    for (size_t off = 0, i = 0; off < image.size(); off += 1024, ++i) {
        Bytes block(image.begin() + off, image.begin() + std::min(image.size(), off + 1024));
        if (block.size() % 2) block.push_back(0);
        frames.push_back(
            Program(static_cast<uint32_t>(0x26000 + off), static_cast<uint16_t>(i), block));
    }
    return frames;
}

inline Bytes PatternImage(size_t size, uint8_t seed = 7) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 31 + seed);
    return b;
}

// A raw client of the device path, the way the tool opens it.
class Client {
public:
    explicit Client(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            termios t{};
            ::tcgetattr(fd_, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Client() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Open() const { return fd_ >= 0; }
    bool Send(const Bytes& b) {
        return ::write(fd_, b.data(), b.size()) == static_cast<ssize_t>(b.size());
    }

    // Reads until `frames` whole frames arrived or the time is up; returns all bytes read.
    Bytes ReadFrames(size_t frames, uint32_t timeoutMs, std::vector<size_t>* chunkSizes = nullptr) {
        Bytes all;
        const uint32_t deadline = platform::TickCount() + timeoutMs;
        while (ParseAll(all).size() < frames) {
            uint32_t left = platform::TickRemaining(platform::TickCount(), deadline);
            if (left == 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            if (p.revents & (POLLHUP | POLLERR)) break;
            uint8_t buf[4096];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            if (chunkSizes) chunkSizes->push_back(static_cast<size_t>(n));
            all.insert(all.end(), buf, buf + n);
        }
        return all;
    }

    // What a read reports once the device has gone: hang-up, end of file or an error.
    bool ReadFails(uint32_t timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeoutMs)) <= 0) return false;
        uint8_t b;
        ssize_t n = ::read(fd_, &b, 1);
        return (p.revents & (POLLHUP | POLLERR)) != 0 && n <= 0;
    }

private:
    int fd_ = -1;
};

}  // namespace simtest
