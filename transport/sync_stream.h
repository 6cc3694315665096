#pragma once
// SyncStream: the one connection to the device. It opens a link (USB, a serial port, or a
// replay file), copies every chunk the link delivers into each registered receive buffer,
// optionally logs the received bytes and, on serial connections, copies them to a second
// stream, and sends what the buffers' owners hand to SendCmd through the link. Readers never
// read the stream itself: they take a receive buffer with GetReadBuffer and read that.
//
// Modes, in order of precedence: serial when CheckComStatus(true) selected it; otherwise replay
// when FullFilePath is set; otherwise USB on the connection name given to the constructor.
//
// USB connections are filled by a reader thread that calls its buffer's usbRead() in a loop:
//
//     while (stream.IsOpen()) {
//         buffer->usbRead();                                   // blocks until bytes or Close
//         if (stream.LastUsbFill() != UsbFillStatus::Delivered) platform::SleepMs(10);
//     }
//
// Serial and replay connections are filled by whichever thread reads a buffer (LowBuffer).
//
// Thread safety: the handles, the list of buffers, the log writer and the bridge may be used
// by the reader thread while another thread opens, closes, registers or removes; a Close from
// another thread ends a USB read that is waiting. Writes from several threads are serialised.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_stream.h"
#include "transport/fifo_stream.h"
#include "transport/receiver_brand.h"
#include "transport/serial_link.h"
#include "transport/usb_link.h"

// Outcome of one usbFillBuffer call.
enum class UsbFillStatus {
    Delivered,  // bytes were read and handed to the buffers
    Refused,    // flow control: some buffer has less than 2,048 bytes free
    Empty,      // the read ended without bytes (link closed, stop flag)
    Failed,     // the link failed; every buffer was marked with EndRead
    Skipped,    // no USB device or no open link
};

// Where a session log hears what passes a stream: the chunks in both directions as they pass
// the link, and the link's life. Called on the thread that moves the bytes; must not block.
class StreamLog {
public:
    virtual ~StreamLog() = default;
    // `kind`: "device directory", "USB (libusb)", "serial", "replay file".
    virtual void Opened(const std::string& kind, const std::string& path) = 0;
    virtual void Received(const uint8_t* bytes, int32_t count) = 0;
    virtual void Sent(const uint8_t* bytes, int32_t count) = 0;
    // The link failed (the device vanished); it delivers nothing more.
    virtual void ReadFailed() = 0;
    virtual void Closed() = 0;
};

class SyncStream {
public:
    // Capacity of each receive buffer, write-buffer size of the log, upper bound of a serial or
    // replay read.
    static constexpr int32_t BufferSize = 65536;
    // Largest piece a single link write carries; longer writes go out in pieces of this size.
    static constexpr int32_t kStagingSize = 4096;
    // Largest USB read.
    static constexpr int32_t kUsbChunk = 2048;

    // `connectionName` is the USB device path (ANSI).
    explicit SyncStream(const std::string& connectionName);
    // Disposes the stream if that was not done, and waits (bounded) for event handlers that
    // other threads are running on it.
    ~SyncStream();
    SyncStream(const SyncStream&) = delete;
    SyncStream& operator=(const SyncStream&) = delete;

    // Opens the link of the current mode; false on any failure. An open link is not reopened.
    bool Open();
    // Closes the link (ending a USB read that waits) and marks every buffer with EndWrite.
    void Close();

    // A new receive buffer of BufferSize bytes, subscribed to this stream and registered.
    std::shared_ptr<FIFOStream> GetReadBuffer();
    // Unregisters the buffer (identity); the last entry takes its place. Unknown: nothing.
    void RemoveReadBuffer(const FIFOStream* buffer);

    // Sends buffer[offset .. offset+count) through the serial link if open, else the USB link
    // if open, else nothing. Each link write carries at most kStagingSize bytes.
    void Write(const uint8_t* buffer, int32_t offset, int32_t count);
    // Sends the UTF-8 text in the ANSI code page, without a terminator.
    void Write(std::string_view text);

    void CheckUsbStatus();
    void CheckComStatus(bool present);
    // Each receive buffer has its own; nothing to do here.
    void DiscardInBuffer() {}

    // --- Handlers of the receive buffers' events --------------------------------------------
    // LowBuffer: polls the serial port or the replay file (not on USB connections).
    void FillBuffer(FIFOStream* sender);
    // usbLowBuffer: one USB read of up to 2,048 bytes into every buffer, unless a buffer has
    // less than 2,048 bytes free. Blocks until bytes arrive or the link is closed.
    UsbFillStatus usbFillBuffer(FIFOStream* sender);
    // StreamClosed.
    void RemoveReadBufferDummy(FIFOStream* sender);

    // Outcome of the most recent usbFillBuffer; the reader thread sleeps unless Delivered.
    UsbFillStatus LastUsbFill() const { return lastUsbFill_.load(); }
    bool LastFillRefused() const { return LastUsbFill() == UsbFillStatus::Refused; }

    // --- Properties -------------------------------------------------------------------------
    ComHandle Port() const;
    // Starts logging received bytes to `path` (appending), or stops with nothing; the previous
    // log is flushed and closed. False (previous log kept) when the file cannot be opened.
    bool LogPath(const std::optional<std::string>& path);
    // Hands the received bytes, and the sent ones, to `log` as well (nullptr: stop).
    void LogPath(std::shared_ptr<StreamLog> log);
    // The log of every stream that has none of its own, including those that exist already
    // (the window's held connection); nullptr: none.
    static void LogEveryStream(std::shared_ptr<StreamLog> log);
    int32_t ReadTimeout() const { return mReadTimeout.load(); }
    void ReadTimeout(int32_t value) { mReadTimeout = value; }
    int32_t WriteTimeout() const { return mReadTimeout.load(); }
    void WriteTimeout(int32_t value) { mReadTimeout = value; }
    bool IsOpen() const;
    // Serial speed; 0 and ignored outside serial mode.
    int32_t BaudRate() const;
    void BaudRate(int32_t rate);
    // Serial port name used by Open in serial mode ("ttyUSB0" means /dev/ttyUSB0).
    std::string ComName() const;
    void ComName(const std::string& name);
    // Replay file; setting it selects replay mode (unless serial mode is selected).
    std::optional<std::string> FullFilePath() const;
    void FullFilePath(const std::optional<std::string>& path);
    // Second stream that receives a copy of serial input; nullptr for none.
    std::shared_ptr<SyncStream> BridgeStream() const;
    void BridgeStream(std::shared_ptr<SyncStream> stream);

    void Dispose();

private:
    struct Registration {
        std::shared_ptr<FIFOStream> buffer;
        int sendToken, closedToken, lowToken, usbLowToken;
    };
    using BufferList = std::vector<Registration>;
    struct Liveness;

    bool SerialMode() const { return comExist.load(); }
    bool ReplayMode() const;
    std::shared_ptr<const BufferList> Buffers() const;
    UsbHandle UsbHandleCopy() const;
    ComHandle ComHandleCopy() const;
    void LogBytes(const uint8_t* bytes, int32_t count);
    std::shared_ptr<StreamLog> SessionLog() const;
    void FillFromSerial(const BufferList& buffers, int32_t room);
    void FillFromReplay(const BufferList& buffers, int32_t room);
    void SendPiece(const uint8_t* bytes, int32_t count);

    // Replay source; guarded by FillBufferMut.
    std::unique_ptr<platform::FileStream> MyFile;
    std::optional<std::string> FullFilePath_;
    ReceiverBrand brand = ReceiverBrand::HD;
    // Staging buffer of the serial and replay fill; guarded by FillBufferMut.
    std::unique_ptr<uint8_t[]> readBuf;
    // Registered buffers: an immutable list replaced on every change, so the fill paths work
    // on a snapshot while another thread registers or removes.
    std::shared_ptr<const BufferList> StreamArr;
    std::mutex FillBufferMut;

    Usb_Port UsbInterface;
    UsbHandle UsbhPort;
    std::string UsbConName;
    std::atomic<bool> usbExist{false};
    Com_Port ComInterface;
    ComHandle ComhPort;
    std::atomic<bool> comExist{false};
    std::atomic<int32_t> mBaudRate{0};
    std::string ComName_;
    std::atomic<int32_t> mReadTimeout{0};
    std::FILE* bw = nullptr;
    std::shared_ptr<StreamLog> sessionLog_;  // guarded by logMut_
    std::shared_ptr<SyncStream> BridgeStream_;

    // Guards the handles, the names, the bridge and StreamArr's pointer.
    mutable std::mutex stateMut_;
    // Guards bw and sessionLog_.
    mutable std::mutex logMut_;
    // Serialises link writes and guards the staging area.
    std::mutex writeMut_;
    std::array<uint8_t, kStagingSize> staging_{};
    std::atomic<bool> replayOpen_{false};
    std::atomic<UsbFillStatus> lastUsbFill_{UsbFillStatus::Skipped};
    std::atomic<bool> disposed_{false};
    // Shared with the handlers subscribed to the buffers, which may outlive this stream.
    std::shared_ptr<Liveness> alive_;
};
