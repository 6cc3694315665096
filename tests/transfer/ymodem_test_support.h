#pragma once
// Helpers for the YMODEM sender tests: a scripted receiver that decodes what the sender writes
// and answers through hooks, a serial port that talks to it in memory, scratch files and
// packed files made with zlib and libcrypto directly.
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "transfer/packing_test_util.h"
#include "transport/serial_port.h"
#include "transport/stream_errors.h"

namespace ymodem_test {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kSoh = 0x01, kStx = 0x02, kEot = 0x04, kAck = 0x06, kNak = 0x15,
                         kCan = 0x18, kC = 0x43;

// Bit-by-bit CRC-16/XMODEM, written apart from the code under test.
inline uint16_t RefCrc(const uint8_t* p, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = ((p[i] >> bit) & 1) != 0;
            const bool top = (crc & 0x8000) != 0;
            crc = static_cast<uint16_t>(crc << 1);
            if (in != top) crc ^= 0x1021;
        }
    }
    return crc;
}

// What the sender wrote, decoded.
enum class Kind { Header, Data, EndOfBatch, Eot, Can, Other };

struct Received {
    Kind kind = Kind::Other;
    Bytes bytes;
    uint8_t number = 0;
    bool crcOk = false;
};

inline Received Decode(const Bytes& sent) {
    Received r;
    r.bytes = sent;
    if (sent.size() == 1 && sent[0] == kEot) {
        r.kind = Kind::Eot;
    } else if (sent.size() == 1 && sent[0] == kCan) {
        r.kind = Kind::Can;
    } else if ((sent.size() == 133 && sent[0] == kSoh) ||
               (sent.size() == 1029 && sent[0] == kStx)) {
        const size_t payload = sent.size() - 5;
        r.number = sent[1];
        const uint16_t crc = static_cast<uint16_t>(sent[sent.size() - 2] << 8 | sent.back());
        r.crcOk = sent[2] == 255 - sent[1] && RefCrc(sent.data() + 3, payload) == crc;
        if (sent[0] == kStx) {
            r.kind = Kind::Data;
        } else {
            r.kind = sent[3] == 0 ? Kind::EndOfBatch : Kind::Header;
        }
    }
    return r;
}

// A receiver that answers each write of the sender through hooks and keeps what arrived.
// By default it behaves as a standard receiver: header -> ACK 'C', data -> ACK, the first
// EOT -> NAK, the next -> ACK, end of batch -> ACK.
class FakeReceiver {
public:
    std::function<Bytes(int index)> onHeader = [](int) { return Bytes{kAck, kC}; };
    std::function<Bytes(int index, uint8_t number)> onData = [](int, uint8_t) {
        return Bytes{kAck};
    };
    std::function<Bytes(int index)> onEot = [](int i) { return Bytes{i == 0 ? kNak : kAck}; };
    std::function<Bytes(int index)> onEndOfBatch = [](int) { return Bytes{kAck}; };

    Bytes Answer(const Bytes& sent) {
        std::lock_guard<std::mutex> lock(mut_);
        Received r = Decode(sent);
        log_.push_back(r);
        switch (r.kind) {
            case Kind::Header: {
                const char* name = reinterpret_cast<const char*>(sent.data() + 3);
                name_ = std::string(name, strnlen(name, 128));
                sizeText_ = std::string(name + name_.size() + 1);
                return onHeader(headers_++);
            }
            case Kind::Data:
                if (r.number == static_cast<uint8_t>(nextBlock_)) {
                    content_.insert(content_.end(), sent.begin() + 3, sent.begin() + 1027);
                    ++nextBlock_;
                }
                return onData(data_++, r.number);
            case Kind::Eot:
                return onEot(eots_++);
            case Kind::EndOfBatch:
                return onEndOfBatch(batchEnds_++);
            default:
                return {};
        }
    }

    std::vector<Received> Log() const {
        std::lock_guard<std::mutex> lock(mut_);
        return log_;
    }
    std::vector<Kind> Kinds() const {
        std::vector<Kind> kinds;
        for (const auto& r : Log()) kinds.push_back(r.kind);
        return kinds;
    }
    size_t Count(Kind kind) const {
        size_t n = 0;
        for (const auto& r : Log()) n += r.kind == kind;
        return n;
    }
    // Content trimmed to the size the header announced.
    Bytes File() const {
        std::lock_guard<std::mutex> lock(mut_);
        Bytes file = content_;
        const size_t size = std::stoul(sizeText_.empty() ? "0" : sizeText_);
        if (file.size() > size) file.resize(size);
        return file;
    }
    Bytes RawContent() const {
        std::lock_guard<std::mutex> lock(mut_);
        return content_;
    }
    std::string Name() const {
        std::lock_guard<std::mutex> lock(mut_);
        return name_;
    }
    std::string SizeText() const {
        std::lock_guard<std::mutex> lock(mut_);
        return sizeText_;
    }

private:
    mutable std::mutex mut_;
    std::vector<Received> log_;
    std::string name_;
    std::string sizeText_;
    Bytes content_;
    int nextBlock_ = 1;
    int headers_ = 0, data_ = 0, eots_ = 0, batchEnds_ = 0;
};

// The number of trailing single-byte CAN writes (the cancel sequence is five of them).
inline size_t TrailingCans(const std::vector<Received>& log) {
    size_t n = 0;
    for (auto it = log.rbegin(); it != log.rend() && it->kind == Kind::Can; ++it) ++n;
    return n;
}

// A serial port in memory: writes go to the receiver, its answers queue up for ReadByte,
// which fails at once with the time-out error when nothing is queued. Faults: the next
// `failWrites` writes and `failReads` reads, and the reads numbered in `failReadNumbers`, raise
// the port's I/O error; `failAlways` makes every operation fail.
class FakeSerialPort : public transport::SerialPort {
public:
    explicit FakeSerialPort(FakeReceiver& receiver) : rx_(receiver) {}

    void Write(const uint8_t* buffer, int32_t offset, int32_t count) override {
        ++writes;
        if (failAlways || failWrites > 0) {
            if (failWrites > 0) --failWrites;
            ++failures;
            throw transport::SerialPortException("write failed");
        }
        Bytes sent(buffer + offset, buffer + offset + count);
        for (uint8_t b : rx_.Answer(sent)) queue_.push_back(b);
    }
    int32_t ReadByte() override {
        ++reads;
        if (failAlways || failReads > 0 || failReadNumbers.count(reads) > 0) {
            if (failReads > 0) --failReads;
            ++failures;
            throw transport::SerialPortException("read failed");
        }
        if (queue_.empty()) throw TimeoutException("ReadByte Timeout");
        const uint8_t b = queue_.front();
        queue_.pop_front();
        return b;
    }
    void DiscardInBuffer() override {
        if (failAlways) {
            ++failures;
            throw transport::SerialPortException("discard failed");
        }
        queue_.clear();
    }

    int failWrites = 0;
    int failReads = 0;
    std::set<int> failReadNumbers;  // reads counted from 1
    bool failAlways = false;
    int writes = 0;
    int reads = 0;
    int failures = 0;

private:
    FakeReceiver& rx_;
    std::deque<uint8_t> queue_;
};

// Scratch folders, file I/O and zlib/libcrypto references shared with the packing tests.
using packing_test::RandomBytes;
using packing_test::ReadFile;
using packing_test::TempDir;
using packing_test::WriteFile;

inline Bytes Gzip(const Bytes& data) {
    return packing_test::Gzip(data, Z_BEST_COMPRESSION);
}

// Preamble 0A 11, the sub-header (byte 0 the package type), then gzip(digest + payload). With
// `badDigest` the stored digest is not the payload's.
inline Bytes PackedFile(const Bytes& payload, uint8_t packageType = 3, bool badDigest = false) {
    Bytes sub(8, 0);
    sub[0] = packageType;
    auto digest = packing_test::ReferenceMd5(payload);
    if (badDigest) digest[5] ^= 0x40;
    Bytes content(digest.begin(), digest.end());
    content.insert(content.end(), payload.begin(), payload.end());
    return packing_test::Concat({packing_test::Preamble(sub), Gzip(content)});
}

inline constexpr int64_t kPackedGzipOffset = 12;

}  // namespace ymodem_test
