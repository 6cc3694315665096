#pragma once
// A receive buffer with a scripted device behind it, for tests that need no link: every
// SendCmd is recorded and handed to an optional responder, which may write replies into the
// buffer at once (Feed) or later from a helper thread (FeedLater). Also small builders for the
// frames a device sends.
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol/fur_codec.h"
#include "transport/fifo_stream.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;

inline Bytes AckFrame(bool positive, uint8_t ackClass, uint8_t ackId) {
    const FUR_PACKET_ACK_ACK ack{ackClass, ackId};
    return MakeFrame(positive ? ACK_ACK : ACK_NAK, RecordBytes(ack));
}

// A VERSION_DATA reply carrying `text`, NUL-padded to `padTo` payload bytes.
inline Bytes VersionReply(std::string_view text, std::size_t padTo = 64) {
    Bytes payload(text.begin(), text.end());
    if (payload.size() < padTo) payload.resize(padTo, 0);
    return MakeFrame(VERSION_DATA, payload);
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The frame with its last checksum byte flipped.
inline Bytes Corrupted(Bytes frame) {
    frame.back() ^= 0x5A;
    return frame;
}

class ScriptedBuffer {
public:
    // Called with each sent frame (after it is recorded); runs on the sending thread.
    using Responder = std::function<void(ScriptedBuffer&, const Bytes& sent)>;

    explicit ScriptedBuffer(Responder responder = {}) : responder_(std::move(responder)) {
        buffer.SendCommandEvent.Subscribe(
            [this](const uint8_t* data, int32_t offset, int32_t count) {
                Bytes sent(data + offset, data + offset + count);
                {
                    std::lock_guard<std::mutex> lock(mut_);
                    sent_.push_back(sent);
                }
                if (responder_) responder_(*this, sent);
            });
    }
    ~ScriptedBuffer() {
        for (auto& t : helpers_) t.join();
    }
    ScriptedBuffer(const ScriptedBuffer&) = delete;
    ScriptedBuffer& operator=(const ScriptedBuffer&) = delete;

    void Feed(const Bytes& bytes) {
        buffer.Write(bytes.data(), 0, static_cast<int32_t>(bytes.size()));
    }
    // Writes `bytes` from another thread after `delayMs`.
    void FeedLater(Bytes bytes, uint32_t delayMs) {
        std::lock_guard<std::mutex> lock(mut_);
        helpers_.emplace_back([this, bytes = std::move(bytes), delayMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            Feed(bytes);
        });
    }

    std::vector<Bytes> Sent() const {
        std::lock_guard<std::mutex> lock(mut_);
        return sent_;
    }

    FIFOStream buffer{65536, ReceiverBrand::HD};

private:
    Responder responder_;
    mutable std::mutex mut_;
    std::vector<Bytes> sent_;
    std::vector<std::thread> helpers_;
};

// Milliseconds `f` takes.
template <typename F>
int64_t ElapsedMs(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace testsupport
