#pragma once
// FIFOStream: the receive buffer between a device stream and its reader. A fixed-capacity byte
// ring guarded by a reentrant lock, with polling reads that may time out, cutting of whole
// binary frames or text lines (ReadLine), and four events that tie it to its device stream:
//   LowBuffer        a reader found the ring low and asks for a refill (serial, replay)
//   usbLowBuffer     the USB reader thread asks for a refill (usbRead)
//   SendCommandEvent outgoing bytes handed to the stream (SendCmd)
//   StreamClosed     the buffer is being closed (Close, Dispose)
// Events are raised without holding the ring lock.
//
// Two sides use a buffer at once: the filling side calls Write, WriteByte, EndRead and EndWrite;
// the reading side calls the read operations, DiscardInBuffer and SendCmd. Waiting reads block
// on a condition variable that the filling side signals, and wake at their polling interval
// (20 ms ReadByte, 30 ms ReadLine) to request a refill and check their time-out.
//
// Errors (transport/stream_errors.h): TimeoutException "ReadByte Timeout" / "ReadLine Timeout",
// IOException "An error occured at SerialPort", OverflowException "Internal buffer overflowed".
// Invalid arguments (negative offset, count or capacity, null buffer with a positive count)
// raise std::invalid_argument.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "transport/event.h"
#include "transport/receiver_brand.h"
#include "transport/stream_errors.h"

class FIFOStream;

// Why the source stopped delivering (EndRead).
enum class SourceFault {
    None,
    Gone,     // the device left or the link failed
    Stalled,  // a USB endpoint of the device stalled
};

// Outgoing bytes: (buffer, offset, count); the handler sends buffer[offset .. offset+count).
using SendCommand = StreamEvent<const uint8_t*, int32_t, int32_t>;
// Plain notifications carry the buffer that raised them.
using FIFOStreamEvent = StreamEvent<FIFOStream*>;

class FIFOStream {
public:
    // Allocates a ring of `capacity` bytes (std::invalid_argument when negative) with the
    // frame layout of `brand`. Read time-out -1 (no limit), low-buffer threshold 0.5.
    FIFOStream(int32_t capacity, ReceiverBrand brand);
    ~FIFOStream();
    FIFOStream(const FIFOStream&) = delete;
    FIFOStream& operator=(const FIFOStream&) = delete;

    // --- Reading ---------------------------------------------------------------------------
    // Copies up to `count` waiting bytes to buffer[offset...] and returns how many (0 when
    // empty). Never waits; ignores the time-out and end of stream.
    int32_t Read(uint8_t* buffer, int32_t offset, int32_t count);
    // Waits for one byte and returns it (0..255), or -1 at end of stream. With ReadTimeout > 0
    // throws TimeoutException("ReadByte Timeout") after waiting longer than that; a source that
    // fails during the wait ends it at once with -1.
    int32_t ReadByte();
    // The oldest byte without consuming it, or -1 when empty. Never waits.
    int32_t Peek();
    // The next unit: a whole binary frame (prefix to checksum) or a text line without its
    // CR/LF. Nothing when the stream has ended and no further unit can be formed. Throws
    // TimeoutException("ReadLine Timeout") and IOException("An error occured at SerialPort").
    std::optional<std::vector<uint8_t>> ReadLine();
    // Blocks until bytes are waiting, the stream ended or failed, or `maxWaitMs` passed;
    // returns whether bytes are waiting (Count > 0). Raises no event: callers loop
    // Read -> nothing -> WaitForData(min(remaining, 20)), and Read requests the refill.
    bool WaitForData(uint32_t maxWaitMs);

    // --- Writing (the filling side) ---------------------------------------------------------
    // Appends `count` bytes; OverflowException when they do not fit (an exact fill is fine).
    void Write(const uint8_t* buffer, int32_t offset, int32_t count);
    // Appends one byte; OverflowException when only one free place or none is left.
    void WriteByte(uint8_t value);
    // The source failed: IsOpen turns false, ReadLine raises the I/O error, and every wait for
    // bytes wakes (nothing more can come). The first fault reported is kept.
    void EndRead(SourceFault fault = SourceFault::Gone);
    // The source ended: readers drain what is left, then see end of stream.
    void EndWrite();

    // --- Sending ----------------------------------------------------------------------------
    // Raises SendCommandEvent with the same three values.
    void SendCmd(const uint8_t* buffer, int32_t offset, int32_t count);
    // Sends the UTF-8 text as ASCII bytes, each character outside ASCII becoming '?'.
    void SendCmd(std::string_view text);

    // --- Control ----------------------------------------------------------------------------
    // Raises LowBuffer (so a polled source moves what is pending into the ring), then empties
    // the ring.
    void DiscardInBuffer();
    // Raises usbLowBuffer; called in a loop by the USB reader thread.
    void usbRead();
    // Changes the capacity, keeping the unread bytes (the oldest ones when shrinking) in order
    // from index 0. std::invalid_argument when negative.
    void SetLength(int32_t newCapacity);
    // Raises StreamClosed. The buffer stays readable; no flag changes.
    void Close();
    void Dispose();

    // --- Properties -------------------------------------------------------------------------
    int32_t Count() const;
    int32_t Length() const;
    // False once the source failed; false after the source ended and the ring ran empty.
    bool IsOpen() const;
    // Why the source failed; None while it has not.
    SourceFault Fault() const;
    // The source failed and every byte it delivered has been taken: no byte can come any more.
    bool SourceLost() const;
    // Milliseconds for ReadByte and ReadLine; 0 or below waits without limit.
    int32_t ReadTimeout() const;
    void ReadTimeout(int32_t milliseconds);
    // Fraction of the capacity below which a read raises LowBuffer.
    double LowBufThreshold() const;
    void LowBufThreshold(double fraction);
    std::array<uint8_t, 2> BinaryPrefix() const;

    // --- Events -----------------------------------------------------------------------------
    SendCommand SendCommandEvent;
    FIFOStreamEvent usbLowBuffer;
    FIFOStreamEvent LowBuffer;
    FIFOStreamEvent StreamClosed;

    // Guards the ring content, the positions and the count.
    std::recursive_mutex ReadWriteMut;

private:
    void LowBufferTest();
    // Wakes waiting readers after the fill level or a flag changed.
    void SignalWaiters();
    // Waits until `ready()` holds or `ms` pass; returns ready().
    template <typename Pred>
    bool WaitFor(uint32_t ms, Pred ready);
    std::optional<std::vector<uint8_t>> TakeLine(int32_t lfIndex);
    std::vector<uint8_t> TakeRemainderAsLine();
    int32_t FrameLength(int32_t readPos, int32_t capacity) const;

    std::unique_ptr<uint8_t[]> InternalBuf;
    std::atomic<int32_t> capacity_;
    int32_t ReadPos = 0;
    int32_t WritePos = 0;
    std::atomic<int32_t> m_Count{0};
    std::atomic<bool> m_ErrorOccured{false};
    std::atomic<bool> m_EndOfStream{false};
    std::atomic<SourceFault> fault_{SourceFault::None};
    std::atomic<int32_t> m_ReadTimeout{-1};
    std::atomic<double> m_LowBufThreshold{0.5};
    std::array<uint8_t, 2> BinaryDataPrefix{};
    int32_t PlayloadLenOffset = 4;
    int32_t AfterPLLength = 2;
    bool BigEndian = false;

    // Wake-up of waiting readers, apart from ReadWriteMut so a writer never waits for a reader.
    std::mutex waitMut_;
    std::condition_variable dataCv_;
    std::atomic<int32_t> waiters_{0};
};
