#include "transfer/ymodem_session.h"

#include <array>
#include <vector>

#include "platform/tick.h"
#include "transport/stream_errors.h"

namespace transfer::detail {

namespace {

constexpr int32_t ToInt(ControlCharacters c) {
    return Byte(c);
}

// Reads until `count` bytes arrived or the stream ended.
int32_t ReadFull(platform::ByteStream& source, uint8_t* buffer, int32_t count) {
    int32_t got = 0;
    while (got < count) {
        const int32_t n = source.Read(buffer, got, count - got);
        if (n <= 0) break;
        got += n;
    }
    return got;
}

// Sets `finished` however the transfer ends.
struct FinishMark {
    Ymodem& m;
    ~FinishMark() { m.finished = true; }
};

}  // namespace

template <typename F>
auto YmodemSession::Retried(F&& operation) -> decltype(operation()) {
    if (!link_.IsSerial()) return operation();
    for (int32_t attempt = 1;; ++attempt) {
        try {
            return operation();
        } catch (const SerialPortException&) {
            if (attempt >= kYmodemSerialIoAttempts) throw;
        }
        platform::SleepMs(kYmodemSerialRetryPauseMs);
    }
}

bool YmodemSession::Run(platform::ByteStream& source, int64_t length, const std::string& fileName) {
    FinishMark mark{m_};
    try {
        return Transfer(source, length, fileName);
    } catch (const TimeoutException&) {
        link_.Cancel();
        return false;
    } catch (const platform::StreamError&) {
        // The file could not be read: the receiver still waits for it.
        link_.Cancel();
        return false;
    } catch (const SerialPortException&) {
        if (!link_.IsSerial()) throw;
        return false;  // the port failed: a cancel sequence would fail as well
    }
}

bool YmodemSession::Transfer(platform::ByteStream& source, int64_t length,
                             const std::string& fileName) {
    const int64_t maxLength = int64_t{kYmodemMaxDataBlocks} * kYmodemDataPayload;
    if (fileName.empty() || fileName.size() > static_cast<size_t>(kYmodemMaxNameBytes) ||
        length < 0 || length > maxLength) {
        link_.Cancel();
        return false;
    }
    m_.fileSize = static_cast<int32_t>(length);
    m_.bytesLeft = static_cast<int32_t>(length);
    m_.packetNum = 0;
    budget_ = 0;
    bool failure = false;

    HeaderBlock header{};
    DataBlock data{};
    std::array<uint8_t, kYmodemDataPayload> chunk{};
    // Not packetNum == 0: the 16-bit number wraps to 0 after data block 65,535.
    bool headerAcked = false;
    while ((!headerAcked || m_.bytesLeft > 0) && !m_.finished) {
        const bool isHeader = !headerAcked;
        const uint8_t* block;
        int32_t size;
        int32_t fileBytes = 0;
        if (isHeader) {
            BuildHeaderBlock(header, fileName, m_.fileSize);
            block = header.data();
            size = kYmodemHeaderBlockSize;
        } else {
            const int32_t want = std::min<int32_t>(m_.bytesLeft, kYmodemDataPayload);
            fileBytes = ReadFull(source, chunk.data(), want);
            if (fileBytes == 0) {
                failure = true;  // the stream ended before its announced length
                break;
            }
            const auto number = static_cast<uint8_t>(static_cast<uint16_t>(m_.packetNum) & 0xFF);
            BuildDataBlock(data, number,
                           std::span<const uint8_t>(chunk.data(), static_cast<size_t>(fileBytes)));
            block = data.data();
            size = kYmodemDataBlockSize;
        }
        SendFirst(block, size, isHeader);
        if (!AwaitReply(block, size, isHeader, fileBytes)) {
            failure = true;
            break;
        }
        headerAcked = true;
    }
    if (failure || m_.finished) {
        link_.Cancel();
        return !failure;
    }
    if (!EotPhase()) {
        link_.Cancel();
        return false;
    }
    EndOfBatch();
    return true;
}

void YmodemSession::SendFirst(const uint8_t* block, int32_t size, bool header) {
    auto send = [&] {
        link_.DiscardInBuffer();
        link_.Send(block, size);
    };
    // The serial variant repeats the header's first sending only.
    if (header) {
        Retried(send);
    } else {
        send();
    }
}

void YmodemSession::Resend(const uint8_t* block, int32_t size) {
    Retried([&] { link_.Send(block, size); });
}

int32_t YmodemSession::ReadReply() {
    return Retried([&] { return link_.ReadByte(); });
}

void YmodemSession::SendByte(ControlCharacters c) {
    const uint8_t b = Byte(c);
    link_.Send(&b, 1);
}

bool YmodemSession::AwaitReply(const uint8_t* block, int32_t size, bool header, int32_t fileBytes) {
    int32_t resends = 0;
    while (budget_ < kYmodemReplyBudget) {
        const int32_t c = ReadReply();
        if (c == ToInt(ControlCharacters::ACK)) {
            if (header) {
                if (!Retried([&] { return AwaitCAfterHeader(); })) return false;
                m_.packetNum = 1;
            } else {
                m_.packetNum = static_cast<int16_t>(static_cast<uint16_t>(m_.packetNum) + 1);
                m_.bytesLeft -= fileBytes;
            }
            return true;
        }
        if (c == ToInt(ControlCharacters::NAK) || c == ToInt(ControlCharacters::C)) {
            if (c == ToInt(ControlCharacters::NAK)) ++m_.errorCount;
            if (++resends > kYmodemMaxResends) return false;
            Resend(block, size);
            continue;
        }
        if (c == ToInt(ControlCharacters::CAN)) {
            m_.receiverCancelled = true;
            return false;
        }
        ++budget_;
    }
    return false;
}

bool YmodemSession::AwaitCAfterHeader() {
    for (int32_t skipped = 0; skipped < kYmodemMaxSkippedBeforeC; ++skipped) {
        const int32_t c = link_.ReadByte();
        if (c == ToInt(ControlCharacters::C)) return true;
        if (c == ToInt(ControlCharacters::CAN)) {
            m_.receiverCancelled = true;
            return false;
        }
        ++m_.errorCount;
    }
    return false;
}

bool YmodemSession::EotPhase() {
    const int32_t ack = ToInt(ControlCharacters::ACK);
    if (link_.IsSerial()) {
        int32_t c;
        do {
            SendByte(ControlCharacters::EOT);
            c = link_.ReadByte();
            ++budget_;
        } while (budget_ < kYmodemReplyBudget && c != ack);
        return c == ack;
    }
    for (;;) {
        SendByte(ControlCharacters::EOT);
        if (++budget_ >= kYmodemReplyBudget) return true;
        if (link_.ReadByte() == ack) return true;
    }
}

void YmodemSession::EndOfBatch() {
    HeaderBlock block{};
    BuildEndOfBatchBlock(block);
    // A 'C' that came along with the EOT's ACK asks for this very block: drop it, so only a
    // 'C' sent after the block (by a receiver that flushed it away) makes us send it again.
    link_.DiscardInBuffer();
    link_.Send(block.data(), kYmodemHeaderBlockSize);
    // A receiver that flushed its input after ACKing the EOT asks again with 'C'.
    const uint32_t deadline = platform::TickCount() + kYmodemBatchEndWindowMs;
    try {
        for (int32_t resends = 0; resends < kYmodemMaxBatchEndResends; ++resends) {
            const uint32_t left = platform::TickRemaining(platform::TickCount(), deadline);
            if (left == 0) return;
            if (link_.ReadByteWithin(left) != ToInt(ControlCharacters::C)) return;
            link_.Send(block.data(), kYmodemHeaderBlockSize);
        }
    } catch (const SerialPortException&) {
        // The file is complete at the receiver: a port failing now changes nothing.
        if (!link_.IsSerial()) throw;
    }
}

}  // namespace transfer::detail
