#pragma once
// The sender's algorithm over an abstract link, shared by the receive-buffer and serial-port
// variants of Ymodem::sendPackets. Internal to the transfer library.
#include <cstdint>
#include <string>

#include "platform/byte_stream.h"
#include "transfer/ymodem.h"

namespace transfer::detail {

// What a read within a window returns when nothing came.
inline constexpr int32_t kNoByte = -2;

class YmodemLink {
public:
    virtual ~YmodemLink() = default;
    virtual void Send(const uint8_t* bytes, int32_t count) = 0;
    // The link's own read: a byte, -1 at the end of its stream; TimeoutException after the
    // link's read time-out.
    virtual int32_t ReadByte() = 0;
    // The next byte within `ms`, kNoByte when none came, -1 when the link has ended.
    virtual int32_t ReadByteWithin(uint32_t ms) = 0;
    virtual void DiscardInBuffer() = 0;
    // The serial variant: some I/O errors are retried, others end the transfer quietly.
    virtual bool IsSerial() const = 0;
    // Five one-byte CAN writes.
    virtual void Cancel() = 0;
};

class YmodemSession {
public:
    YmodemSession(Ymodem& record, YmodemLink& link) : m_(record), link_(link) {}

    // Runs the whole transfer of `length` bytes of `source` under `fileName`; sets
    // `finished` before it returns or throws.
    bool Run(platform::ByteStream& source, int64_t length, const std::string& fileName);

private:
    bool Transfer(platform::ByteStream& source, int64_t length, const std::string& fileName);
    // Header or data block until ACK; false on a failure.
    bool AwaitReply(const uint8_t* block, int32_t size, bool header, int32_t fileBytes);
    bool AwaitCAfterHeader();
    // false when the serial variant's EOT phase ended without an ACK.
    bool EotPhase();
    void EndOfBatch();
    int32_t ReadReply();
    void Resend(const uint8_t* block, int32_t size);
    void SendFirst(const uint8_t* block, int32_t size, bool header);
    void SendByte(ControlCharacters c);
    template <typename F>
    auto Retried(F&& operation) -> decltype(operation());

    Ymodem& m_;
    YmodemLink& link_;
    int32_t budget_ = 0;
};

}  // namespace transfer::detail
