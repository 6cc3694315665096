#include "transport/sync_stream.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/codepage.h"
#include "platform/utf8_paths.h"

// Handlers subscribed to a receive buffer may be called after this stream is gone (the reader
// keeps the buffer). They go through this record, which the stream detaches on destruction
// after waiting for calls already running.
struct SyncStream::Liveness {
    std::mutex mut;
    std::condition_variable idle;
    int calls = 0;
    SyncStream* target = nullptr;

    class Call {
    public:
        explicit Call(Liveness& l) : live_(l) {
            std::lock_guard<std::mutex> lock(live_.mut);
            stream_ = live_.target;
            if (stream_) ++live_.calls;
        }
        ~Call() {
            if (!stream_) return;
            std::lock_guard<std::mutex> lock(live_.mut);
            if (--live_.calls == 0) live_.idle.notify_all();
        }
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;
        SyncStream* stream() const { return stream_; }

    private:
        Liveness& live_;
        SyncStream* stream_;
    };
};

namespace {

// Bounds the destructor's wait for handlers running on other threads; they return promptly
// once the link is closed (the longest is a serial write of 4,096 bytes, about 4 s).
constexpr auto kHandlerDrainWait = std::chrono::seconds(10);

std::mutex everyStreamLogMut;
std::shared_ptr<StreamLog> everyStreamLog;

}  // namespace

void SyncStream::LogEveryStream(std::shared_ptr<StreamLog> log) {
    std::lock_guard<std::mutex> lock(everyStreamLogMut);
    everyStreamLog = std::move(log);
}

std::shared_ptr<StreamLog> SyncStream::SessionLog() const {
    {
        std::lock_guard<std::mutex> lock(logMut_);
        if (sessionLog_) return sessionLog_;
    }
    std::lock_guard<std::mutex> lock(everyStreamLogMut);
    return everyStreamLog;
}

void SyncStream::LogPath(std::shared_ptr<StreamLog> log) {
    std::lock_guard<std::mutex> lock(logMut_);
    sessionLog_ = std::move(log);
}

SyncStream::SyncStream(const std::string& connectionName)
    : readBuf(new uint8_t[BufferSize]()),
      StreamArr(std::make_shared<const BufferList>()),
      UsbConName(connectionName),
      alive_(std::make_shared<Liveness>()) {
    alive_->target = this;
}

SyncStream::~SyncStream() {
    if (!disposed_) Dispose();
    std::unique_lock<std::mutex> lock(alive_->mut);
    alive_->target = nullptr;
    alive_->idle.wait_for(lock, kHandlerDrainWait, [this] { return alive_->calls == 0; });
}

bool SyncStream::ReplayMode() const {
    std::lock_guard<std::mutex> lock(stateMut_);
    return FullFilePath_.has_value();
}

std::shared_ptr<const SyncStream::BufferList> SyncStream::Buffers() const {
    std::lock_guard<std::mutex> lock(stateMut_);
    return StreamArr;
}

UsbHandle SyncStream::UsbHandleCopy() const {
    std::lock_guard<std::mutex> lock(stateMut_);
    return UsbhPort;
}

ComHandle SyncStream::ComHandleCopy() const {
    std::lock_guard<std::mutex> lock(stateMut_);
    return ComhPort;
}

bool SyncStream::Open() {
    if (SerialMode()) {
        std::string name;
        {
            std::lock_guard<std::mutex> lock(stateMut_);
            if (ComhPort) return true;
            name = ComName_;
        }
        ComHandle port = ComInterface.Open_Com(name, mBaudRate);
        if (!port) return false;
        {
            std::lock_guard<std::mutex> lock(stateMut_);
            ComhPort = std::move(port);
        }
        if (auto log = SessionLog()) log->Opened("serial", name);
        return true;
    }
    if (auto path = FullFilePath()) {
        std::lock_guard<std::mutex> fill(FillBufferMut);
        if (MyFile) return true;
        try {
            MyFile = std::make_unique<platform::FileStream>(*path);
        } catch (const platform::StreamError&) {
            return false;
        }
        replayOpen_ = true;
        if (auto log = SessionLog()) log->Opened("replay file", *path);
        return true;
    }
    std::string name;
    {
        std::lock_guard<std::mutex> lock(stateMut_);
        if (UsbhPort) return usbExist = true;
        name = UsbConName;
    }
    UsbHandle handle = UsbInterface.Init_USB(name);
    const bool opened = static_cast<bool>(handle);
    {
        std::lock_guard<std::mutex> lock(stateMut_);
        UsbhPort = std::move(handle);
    }
    usbExist = opened;
    if (auto log = SessionLog(); log && opened) {
        log->Opened(name.rfind("usb:", 0) == 0 ? "USB (libusb)" : "device directory", name);
    }
    return opened;
}

void SyncStream::Close() {
    ComHandle com;
    UsbHandle usb;
    {
        std::lock_guard<std::mutex> lock(stateMut_);
        com = std::move(ComhPort);
        ComhPort = ComHandle{};
    }
    if (com) {
        // Closed also when serial mode was deselected meanwhile, so the port is never leaked.
        ComInterface.Close_Com(com);
        if (auto log = SessionLog()) log->Closed();
    } else if (replayOpen_) {
        std::lock_guard<std::mutex> fill(FillBufferMut);
        MyFile.reset();
        replayOpen_ = false;
    } else {
        {
            std::lock_guard<std::mutex> lock(stateMut_);
            usb = std::move(UsbhPort);
            UsbhPort = UsbHandle{};
        }
        if (usb) UsbInterface.Close_Usb(usb);
        if (auto log = SessionLog(); log && usb) log->Closed();
    }
    for (const Registration& r : *Buffers()) r.buffer->EndWrite();
}

std::shared_ptr<FIFOStream> SyncStream::GetReadBuffer() {
    auto buffer = std::make_shared<FIFOStream>(BufferSize, brand);
    std::shared_ptr<Liveness> alive = alive_;
    Registration reg;
    reg.buffer = buffer;
    reg.sendToken =
        buffer->SendCommandEvent.Subscribe([alive](const uint8_t* b, int32_t offset, int32_t n) {
            Liveness::Call call(*alive);
            if (call.stream()) call.stream()->Write(b, offset, n);
        });
    reg.closedToken = buffer->StreamClosed.Subscribe([alive](FIFOStream* sender) {
        Liveness::Call call(*alive);
        if (call.stream()) call.stream()->RemoveReadBufferDummy(sender);
    });
    reg.lowToken = buffer->LowBuffer.Subscribe([alive](FIFOStream* sender) {
        Liveness::Call call(*alive);
        if (call.stream()) call.stream()->FillBuffer(sender);
    });
    reg.usbLowToken = buffer->usbLowBuffer.Subscribe([alive](FIFOStream* sender) {
        Liveness::Call call(*alive);
        if (call.stream()) call.stream()->usbFillBuffer(sender);
    });
    // Serial connections poll the port on every read that finds the ring not full.
    if (SerialMode()) buffer->LowBufThreshold(1.0);

    std::lock_guard<std::mutex> lock(stateMut_);
    auto next = std::make_shared<BufferList>(*StreamArr);
    next->push_back(std::move(reg));
    StreamArr = std::move(next);
    return buffer;
}

void SyncStream::RemoveReadBuffer(const FIFOStream* buffer) {
    std::lock_guard<std::mutex> lock(stateMut_);
    const BufferList& current = *StreamArr;
    auto it = std::find_if(current.begin(), current.end(),
                           [buffer](const Registration& r) { return r.buffer.get() == buffer; });
    if (it == current.end()) return;
    auto next = std::make_shared<BufferList>(current);
    const auto index = static_cast<std::size_t>(it - current.begin());
    (*next)[index] = std::move(next->back());
    next->pop_back();
    StreamArr = std::move(next);
}

void SyncStream::RemoveReadBufferDummy(FIFOStream* sender) {
    RemoveReadBuffer(sender);
}

void SyncStream::SendPiece(const uint8_t* bytes, int32_t count) {
    // Caller holds writeMut_.
    staging_.fill(0);
    std::memcpy(staging_.data(), bytes, static_cast<std::size_t>(count));
    if (auto log = SessionLog(); log && count > 0 && (ComHandleCopy() || UsbHandleCopy())) {
        log->Sent(bytes, count);
    }
    if (ComHandle com = ComHandleCopy()) {
        ComInterface.WriteTo_Com(com, staging_.data(), count);
    } else if (UsbHandle usb = UsbHandleCopy()) {
        UsbInterface.Write_Usb(usb, staging_.data(), count);
    }
}

void SyncStream::Write(const uint8_t* buffer, int32_t offset, int32_t count) {
    if (buffer == nullptr || offset < 0 || count < 0) return;
    std::lock_guard<std::mutex> lock(writeMut_);
    const uint8_t* bytes = buffer + offset;
    if (count == 0) {
        SendPiece(bytes, 0);
        return;
    }
    for (int32_t done = 0; done < count;) {
        const int32_t piece = std::min(count - done, kStagingSize);
        SendPiece(bytes + done, piece);
        done += piece;
    }
}

void SyncStream::Write(std::string_view text) {
    const std::string ansi = platform::Utf16ToAnsi(platform::Utf8ToUtf16(text));
    Write(reinterpret_cast<const uint8_t*>(ansi.data()), 0, static_cast<int32_t>(ansi.size()));
}

void SyncStream::CheckUsbStatus() {
    std::string name;
    {
        std::lock_guard<std::mutex> lock(stateMut_);
        name = UsbConName;
    }
    usbExist = UsbInterface.Check_Device(name);
}

void SyncStream::CheckComStatus(bool present) {
    comExist = present;
}

UsbFillStatus SyncStream::usbFillBuffer(FIFOStream*) {
    auto finish = [this](UsbFillStatus status) {
        lastUsbFill_ = status;
        return status;
    };
    if (!usbExist) return finish(UsbFillStatus::Skipped);
    auto buffers = Buffers();
    // Flow control: read only when every buffer has room for a whole chunk.
    for (const Registration& r : *buffers) {
        if (r.buffer->Count() + kUsbChunk > BufferSize) return finish(UsbFillStatus::Refused);
    }
    UsbHandle handle = UsbHandleCopy();
    if (!handle) return finish(UsbFillStatus::Skipped);

    std::array<uint8_t, kUsbChunk> chunk{};
    const int32_t n = UsbInterface.Read_Usb(handle, chunk.data(), kUsbChunk);
    if (n < 0) {
        if (auto log = SessionLog()) log->ReadFailed();
        // Every wait on the buffers wakes and fails now, whatever its time-out.
        const SourceFault fault =
            UsbInterface.Stalled(handle) ? SourceFault::Stalled : SourceFault::Gone;
        for (const Registration& r : *Buffers()) r.buffer->EndRead(fault);
        return finish(UsbFillStatus::Failed);
    }
    if (n == 0) return finish(UsbFillStatus::Empty);
    // Logged first, so a byte a reader has seen is always in the log as well.
    LogBytes(chunk.data(), n);
    // A buffer registered during the read is included; flow control leaves room in the others.
    for (const Registration& r : *Buffers()) {
        try {
            r.buffer->Write(chunk.data(), 0, n);
        } catch (const OverflowException&) {
            // Only a buffer filled by someone else besides this stream gets here; the others
            // still receive the chunk. This one has a hole now: its reader must not go on as if
            // the stream were whole.
            r.buffer->EndRead();
        }
    }
    return finish(UsbFillStatus::Delivered);
}

void SyncStream::FillBuffer(FIFOStream*) {
    if (UsbHandleCopy()) return;  // the reader thread fills USB connections
    std::lock_guard<std::mutex> fill(FillBufferMut);
    auto buffers = Buffers();
    int32_t room = BufferSize;
    for (const Registration& r : *buffers) {
        room = std::min(room, r.buffer->Length() - r.buffer->Count());
    }
    room = std::max(room, 0);
    if (SerialMode()) {
        FillFromSerial(*buffers, room);
    } else if (ReplayMode() && MyFile) {
        FillFromReplay(*buffers, room);
    }
}

void SyncStream::FillFromSerial(const BufferList& buffers, int32_t room) {
    ComHandle port = ComHandleCopy();
    if (!port) return;
    const int32_t n = ComInterface.ReadFrom_Com(port, readBuf.get(), std::min(room, 65535));
    if (n < 0) {
        for (const Registration& r : buffers) r.buffer->EndRead();
        return;
    }
    if (n > 0 && !buffers.empty()) buffers.back().buffer->Write(readBuf.get(), 0, n);
    LogBytes(readBuf.get(), n);
    if (auto bridge = BridgeStream(); bridge && bridge->IsOpen())
        bridge->Write(readBuf.get(), 0, n);
}

void SyncStream::FillFromReplay(const BufferList& buffers, int32_t room) {
    int32_t n = 0;
    bool failed = false;
    try {
        n = MyFile->Read(readBuf.get(), 0, room);
    } catch (const platform::StreamError&) {
        failed = true;
    }
    if (failed) {
        for (const Registration& r : buffers) r.buffer->EndRead();
        return;
    }
    if (n > 0) {
        for (const Registration& r : buffers) r.buffer->Write(readBuf.get(), 0, n);
    }
    if (MyFile->Position() >= MyFile->Length()) {
        for (const Registration& r : buffers) r.buffer->EndWrite();
    }
}

void SyncStream::LogBytes(const uint8_t* bytes, int32_t count) {
    if (count <= 0) return;
    {
        std::lock_guard<std::mutex> lock(logMut_);
        if (bw) std::fwrite(bytes, 1, static_cast<std::size_t>(count), bw);
    }
    if (auto log = SessionLog()) log->Received(bytes, count);
}

ComHandle SyncStream::Port() const {
    return ComHandleCopy();
}

bool SyncStream::LogPath(const std::optional<std::string>& path) {
    std::FILE* next = nullptr;
    if (path) {
        next = platform::OpenFile(*path, "ab");
        if (!next) return false;
        std::setvbuf(next, nullptr, _IOFBF, BufferSize);
    }
    std::FILE* previous;
    {
        std::lock_guard<std::mutex> lock(logMut_);
        previous = bw;
        bw = next;
    }
    if (previous) std::fclose(previous);  // flushes
    return true;
}

bool SyncStream::IsOpen() const {
    if (SerialMode()) return static_cast<bool>(ComHandleCopy());
    if (UsbHandleCopy() && usbExist) return true;
    return replayOpen_;
}

int32_t SyncStream::BaudRate() const {
    return SerialMode() ? mBaudRate.load() : 0;
}

void SyncStream::BaudRate(int32_t rate) {
    if (!SerialMode()) return;
    if (ComHandle port = ComHandleCopy()) ComInterface.Set_Com(port, rate);
    mBaudRate = rate;
}

std::string SyncStream::ComName() const {
    std::lock_guard<std::mutex> lock(stateMut_);
    return ComName_;
}

void SyncStream::ComName(const std::string& name) {
    std::lock_guard<std::mutex> lock(stateMut_);
    ComName_ = name;
}

std::optional<std::string> SyncStream::FullFilePath() const {
    std::lock_guard<std::mutex> lock(stateMut_);
    return FullFilePath_;
}

void SyncStream::FullFilePath(const std::optional<std::string>& path) {
    std::lock_guard<std::mutex> lock(stateMut_);
    FullFilePath_ = path;
}

std::shared_ptr<SyncStream> SyncStream::BridgeStream() const {
    std::lock_guard<std::mutex> lock(stateMut_);
    return BridgeStream_;
}

void SyncStream::BridgeStream(std::shared_ptr<SyncStream> stream) {
    std::shared_ptr<SyncStream> previous;  // released after the lock: it may be the last owner
    std::lock_guard<std::mutex> lock(stateMut_);
    previous = std::move(BridgeStream_);
    BridgeStream_ = std::move(stream);
}

void SyncStream::Dispose() {
    disposed_ = true;
    // Close takes one link per call; after a change of mode more than one may be open, and a
    // link left open would keep a reader waiting on a disposed stream.
    for (int i = 0; i < 3 && (i == 0 || ComHandleCopy() || UsbHandleCopy() || replayOpen_); ++i) {
        Close();
    }
    for (const Registration& r : *Buffers()) {
        r.buffer->EndWrite();
        r.buffer->SendCommandEvent.Unsubscribe(r.sendToken);
        r.buffer->StreamClosed.Unsubscribe(r.closedToken);
        r.buffer->LowBuffer.Unsubscribe(r.lowToken);
        r.buffer->usbLowBuffer.Unsubscribe(r.usbLowToken);
    }
    ComInterface.Dispose();
    UsbInterface.Dispose();
    std::lock_guard<std::mutex> lock(logMut_);
    if (bw) std::fclose(bw);
    bw = nullptr;
}
