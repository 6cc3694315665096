#include "transfer/ymodem.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/program_folder.h"
#include "platform/tick.h"
#include "protocol/byte_wait.h"
#include "transfer/gzip_stream.h"
#include "transfer/packed_file.h"
#include "transfer/ymodem_session.h"
#include "transport/stream_errors.h"

namespace transfer {

namespace {

constexpr uint8_t kCan = Byte(ControlCharacters::CAN);

class BufferLink final : public detail::YmodemLink {
public:
    explicit BufferLink(FIFOStream& link) : link_(link) {}
    void Send(const uint8_t* bytes, int32_t count) override { link_.SendCmd(bytes, 0, count); }
    int32_t ReadByte() override { return link_.ReadByte(); }
    int32_t ReadByteWithin(uint32_t ms) override {
        const uint32_t deadline = platform::TickCount() + ms;
        for (;;) {
            uint8_t b = 0;
            if (link_.Read(&b, 0, 1) == 1) return b;
            if (!link_.IsOpen()) return -1;
            if (platform::TickReached(platform::TickCount(), deadline)) return detail::kNoByte;
            AwaitBytes(link_, deadline);
        }
    }
    void DiscardInBuffer() override { link_.DiscardInBuffer(); }
    bool IsSerial() const override { return false; }
    void Cancel() override { Ymodem::CancelTransmittion(link_); }

private:
    FIFOStream& link_;
};

class PortLink final : public detail::YmodemLink {
public:
    explicit PortLink(SerialPort& port) : port_(port) {}
    void Send(const uint8_t* bytes, int32_t count) override { port_.Write(bytes, 0, count); }
    int32_t ReadByte() override { return port_.ReadByte(); }
    int32_t ReadByteWithin(uint32_t ms) override {
        const int32_t saved = port_.ReadTimeout();
        port_.ReadTimeout(static_cast<int32_t>(std::max<uint32_t>(ms, 1)));
        struct Restore {
            SerialPort& port;
            int32_t value;
            ~Restore() { port.ReadTimeout(value); }
        } restore{port_, saved};
        try {
            return port_.ReadByte();
        } catch (const TimeoutException&) {
            return detail::kNoByte;
        }
    }
    void DiscardInBuffer() override { port_.DiscardInBuffer(); }
    bool IsSerial() const override { return true; }
    void Cancel() override { Ymodem::CancelTransmittion(port_); }

private:
    SerialPort& port_;
};

// The payload to send from `file`: the file from its position, or its unpacked content. The
// content is checked by a first pass over the gzip stream (digest, limit, length) and sent by a
// second one, so memory stays bounded whatever the payload's size.
struct Payload {
    std::unique_ptr<GZipInputStream> unpacked;
    platform::ByteStream* stream = nullptr;
    int64_t length = 0;
};

// False when the packed content cannot be sent.
bool PreparePayload(platform::FileStream& file, bool unpack, Payload& out) {
    if (!unpack) {
        out.stream = &file;
        out.length = std::max<int64_t>(0, file.Length() - file.Position());
        return true;
    }
    try {
        const int64_t start = file.Position();
        const UnpackResult content = ScanPackedContent(file, file.Length());
        if (!content.ok()) return false;
        file.Seek(start);
        out.unpacked = std::make_unique<GZipInputStream>(file);
        uint8_t digest[kPackedDigestSize];
        for (size_t got = 0; got < sizeof digest;) {
            const int32_t n = out.unpacked->Read(digest, static_cast<int32_t>(got),
                                                 static_cast<int32_t>(sizeof digest - got));
            if (n <= 0) return false;
            got += static_cast<size_t>(n);
        }
        out.length = content.contentLength - static_cast<int64_t>(kPackedDigestSize);
    } catch (const platform::StreamError&) {
        return false;  // corrupt gzip data (InvalidDataError) or a read failure
    }
    out.stream = out.unpacked.get();
    return true;
}

bool SendFile(Ymodem& modem, platform::FileStream& file, bool unpack, detail::YmodemLink& link) {
    // On every return and every error, as the session does for its part.
    struct FinishMark {
        Ymodem& m;
        ~FinishMark() { m.finished = true; }
    } mark{modem};
    // The name comes from the path, which stays known after unpacking closed the file.
    const std::string name = YmodemFileName(file.Path());
    Payload payload;
    if (!PreparePayload(file, unpack, payload)) {
        link.Cancel();
        return false;
    }
    detail::YmodemSession session(modem, link);
    return session.Run(*payload.stream, payload.length, name);
}

}  // namespace

std::string YmodemFileName(const std::string& path) {
    const size_t slash = path.find_last_of(platform::kPathSeparators);
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    return platform::Utf16ToAnsi(platform::Utf8ToUtf16(last));
}

bool Ymodem::sendPackets(platform::FileStream& file, FIFOStream& link, bool unpack) {
    BufferLink adapter(link);
    return SendFile(*this, file, unpack, adapter);
}

bool Ymodem::sendPackets(platform::FileStream& file, SerialPort& port, bool unpack) {
    PortLink adapter(port);
    return SendFile(*this, file, unpack, adapter);
}

bool Ymodem::sendStream(platform::ByteStream& source, int64_t length, const std::string& fileName,
                        FIFOStream& link) {
    BufferLink adapter(link);
    detail::YmodemSession session(*this, adapter);
    return session.Run(source, length, fileName);
}

bool Ymodem::sendStream(platform::ByteStream& source, int64_t length, const std::string& fileName,
                        SerialPort& port) {
    PortLink adapter(port);
    detail::YmodemSession session(*this, adapter);
    return session.Run(source, length, fileName);
}

std::unique_ptr<platform::MemoryStream> Ymodem::DecompressGZipFile(platform::FileStream& file) {
    UnpackResult result = UnpackPackedContent(file, file.Length());
    switch (result.status) {
        case UnpackStatus::Ok:
            break;
        case UnpackStatus::CorruptData:
            throw platform::InvalidDataError(result.error);
        case UnpackStatus::ReadError:
            throw platform::StreamError(result.error);
        case UnpackStatus::DigestMismatch:
        case UnpackStatus::NoDigest:
        case UnpackStatus::OverLimit:
            return nullptr;
    }
    file.Close();
    return std::make_unique<platform::MemoryStream>(std::move(result.payload));
}

void Ymodem::CancelTransmittion(FIFOStream& link) {
    for (int32_t i = 0; i < kYmodemCancelCount; ++i) link.SendCmd(&kCan, 0, 1);
}

void Ymodem::CancelTransmittion(SerialPort& port) {
    try {
        for (int32_t i = 0; i < kYmodemCancelCount; ++i) port.Write(&kCan, 0, 1);
    } catch (const SerialPortException&) {
        // The port failed: nobody would hear the rest.
    }
}

}  // namespace transfer
