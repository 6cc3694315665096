#include "transport/fifo_stream.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/tick.h"

namespace {

constexpr uint8_t kLineFeed = 10;
constexpr uint8_t kCarriageReturn = 13;
constexpr uint32_t kReadBytePollMs = 20;
constexpr uint32_t kReadLinePollMs = 30;
constexpr const char* kOverflowText = "Internal buffer overflowed";

struct FrameLayout {
    std::array<uint8_t, 2> prefix;
    int32_t lengthOffset;
    int32_t afterLength;
    bool bigEndian;
};

FrameLayout LayoutOf(ReceiverBrand brand) {
    switch (brand) {
        case ReceiverBrand::HD:
            return {{0xF1, 0xD9}, 4, 2, false};
        case ReceiverBrand::PrefixA0A2:
            return {{0xA0, 0xA2}, 2, 4, true};
        case ReceiverBrand::PrefixB562:
            return {{0xB5, 0x62}, 4, 2, false};
        case ReceiverBrand::Prefix81FF:
            return {{0x81, 0xFF}, 4, 2, false};
        default:
            return {{0xB5, 0x62}, 4, 2, false};
    }
}

void CheckRange(const uint8_t* buffer, int32_t offset, int32_t count) {
    if (offset < 0 || count < 0) throw std::invalid_argument("negative offset or count");
    if (count > 0 && buffer == nullptr) throw std::invalid_argument("null buffer");
}

}  // namespace

FIFOStream::FIFOStream(int32_t capacity, ReceiverBrand brand) : capacity_(capacity) {
    if (capacity < 0) throw std::invalid_argument("negative capacity");
    InternalBuf = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity));
    const FrameLayout layout = LayoutOf(brand);
    BinaryDataPrefix = layout.prefix;
    PlayloadLenOffset = layout.lengthOffset;
    AfterPLLength = layout.afterLength;
    BigEndian = layout.bigEndian;
}

FIFOStream::~FIFOStream() = default;

// ---------------------------------------------------------------------------------------------
// Waiting

void FIFOStream::SignalWaiters() {
    // The count and flags are stored before this load (both sequentially consistent), so a
    // reader that registers afterwards sees the new state in its predicate.
    if (waiters_.load() == 0) return;
    std::lock_guard<std::mutex> lock(waitMut_);
    dataCv_.notify_all();
}

template <typename Pred>
bool FIFOStream::WaitFor(uint32_t ms, Pred ready) {
    if (ready()) return true;
    waiters_.fetch_add(1);
    {
        std::unique_lock<std::mutex> lock(waitMut_);
        platform::Clock& clock = platform::CurrentClock();
        clock.WaitUntil(lock, dataCv_, ready, clock.Now() + ms);
    }
    waiters_.fetch_sub(1);
    return ready();
}

bool FIFOStream::WaitForData(uint32_t maxWaitMs) {
    WaitFor(maxWaitMs, [this] { return m_Count.load() > 0 || m_EndOfStream.load(); });
    return m_Count.load() > 0;
}

void FIFOStream::LowBufferTest() {
    const double limit = static_cast<double>(capacity_.load()) * m_LowBufThreshold.load();
    if (static_cast<double>(m_Count.load()) < limit) LowBuffer.Raise(this);
}

// ---------------------------------------------------------------------------------------------
// Reading

int32_t FIFOStream::Read(uint8_t* buffer, int32_t offset, int32_t count) {
    CheckRange(buffer, offset, count);
    LowBufferTest();
    std::lock_guard<std::recursive_mutex> lock(ReadWriteMut);
    const int32_t n = std::min(count, m_Count.load());
    if (n <= 0) return 0;
    const int32_t cap = capacity_.load();
    const int32_t first = std::min(n, cap - ReadPos);
    std::memcpy(buffer + offset, InternalBuf.get() + ReadPos, static_cast<size_t>(first));
    if (n > first) {
        std::memcpy(buffer + offset + first, InternalBuf.get(), static_cast<size_t>(n - first));
    }
    ReadPos = (ReadPos + n) % cap;
    m_Count.fetch_sub(n);
    return n;
}

int32_t FIFOStream::ReadByte() {
    if (m_EndOfStream.load()) {
        if (m_Count.load() == 0) return -1;
    } else {
        LowBufferTest();
    }
    const uint32_t start = platform::TickCount();
    for (;;) {
        while (m_Count.load() == 0) {
            const int32_t timeout = m_ReadTimeout.load();
            // Without a time-out, end of stream ends the wait: nothing more can arrive. The flag
            // is read before the count so a byte written just before it is not missed.
            if (timeout <= 0 && m_EndOfStream.load() && m_Count.load() == 0) return -1;
            // A failed source ends the wait whatever the time-out: no byte can come.
            if (m_ErrorOccured.load() && m_Count.load() == 0) return -1;
            WaitFor(kReadBytePollMs, [this, timeout] {
                return m_Count.load() > 0 || m_ErrorOccured.load() ||
                       (timeout <= 0 && m_EndOfStream.load());
            });
            if (m_ErrorOccured.load() && m_Count.load() == 0) return -1;
            if (timeout > 0 && platform::TickDiff(platform::TickCount(), start) > timeout) {
                throw TimeoutException("ReadByte Timeout");
            }
            LowBuffer.Raise(this);
        }
        std::lock_guard<std::recursive_mutex> lock(ReadWriteMut);
        // Recheck under the lock: a discard on another thread may have emptied the ring.
        if (m_Count.load() == 0) continue;
        const uint8_t value = InternalBuf[static_cast<size_t>(ReadPos)];
        ReadPos = (ReadPos + 1) % capacity_.load();
        m_Count.fetch_sub(1);
        return value;
    }
}

int32_t FIFOStream::Peek() {
    LowBufferTest();
    std::lock_guard<std::recursive_mutex> lock(ReadWriteMut);
    if (m_Count.load() == 0) return -1;
    return InternalBuf[static_cast<size_t>(ReadPos)];
}

int32_t FIFOStream::FrameLength(int32_t readPos, int32_t capacity) const {
    const uint8_t b0 = InternalBuf[static_cast<size_t>((readPos + PlayloadLenOffset) % capacity)];
    const uint8_t b1 =
        InternalBuf[static_cast<size_t>((readPos + PlayloadLenOffset + 1) % capacity)];
    const int32_t length = BigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0;
    return length + AfterPLLength + PlayloadLenOffset + 2;
}

std::optional<std::vector<uint8_t>> FIFOStream::TakeLine(int32_t lfIndex) {
    // Caller holds ReadWriteMut.
    const int32_t cap = capacity_.load();
    int32_t len = lfIndex - ReadPos;
    if (len < 0) len += cap;
    const int32_t consumed = len + 1;
    if (lfIndex != ReadPos &&
        InternalBuf[static_cast<size_t>((lfIndex - 1 + cap) % cap)] == kCarriageReturn) {
        --len;
    }
    std::vector<uint8_t> line(static_cast<size_t>(len));
    const int32_t first = std::min(len, cap - ReadPos);
    if (first > 0)
        std::memcpy(line.data(), InternalBuf.get() + ReadPos, static_cast<size_t>(first));
    if (len > first) {
        std::memcpy(line.data() + first, InternalBuf.get(), static_cast<size_t>(len - first));
    }
    m_Count.fetch_sub(consumed);
    ReadPos = (lfIndex + 1) % cap;
    return line;
}

std::vector<uint8_t> FIFOStream::TakeRemainderAsLine() {
    // Caller holds ReadWriteMut. The last line of an ended stream, taken whole rather than by
    // appending a line feed, which would not fit into a full ring.
    const int32_t cap = capacity_.load();
    const int32_t consumed = m_Count.load();
    int32_t len = consumed;
    if (InternalBuf[static_cast<size_t>((ReadPos + len - 1) % cap)] == kCarriageReturn) --len;
    std::vector<uint8_t> line(static_cast<size_t>(len));
    const int32_t first = std::min(len, cap - ReadPos);
    if (first > 0)
        std::memcpy(line.data(), InternalBuf.get() + ReadPos, static_cast<size_t>(first));
    if (len > first) {
        std::memcpy(line.data() + first, InternalBuf.get(), static_cast<size_t>(len - first));
    }
    m_Count.fetch_sub(consumed);
    ReadPos = (ReadPos + consumed) % cap;
    return line;
}

std::optional<std::vector<uint8_t>> FIFOStream::ReadLine() {
    enum class Kind { Undecided, Frame, Line };
    Kind kind = Kind::Undecided;
    int32_t needed = 2;
    int32_t scanned = 0;  // bytes from ReadPos already searched for a line feed
    int32_t stateReadPos = -1;
    const uint32_t start = platform::TickCount();

    for (;;) {
        if (m_ErrorOccured.load()) throw IOException("An error occured at SerialPort");
        // Taken before looking at the bytes: once set, everything written is already counted.
        const bool ended = m_EndOfStream.load();
        LowBufferTest();

        int32_t observed = m_Count.load();
        if (observed >= needed) {
            std::unique_lock<std::recursive_mutex> lock(ReadWriteMut);
            const int32_t cap = capacity_.load();
            const int32_t avail = m_Count.load();
            observed = avail;
            // Bytes consumed or the ring reset by someone else: what was learnt is void.
            if (ReadPos != stateReadPos || scanned > avail) {
                kind = Kind::Undecided;
                needed = 2;
                scanned = 0;
                stateReadPos = ReadPos;
            }
            if (avail >= needed) {
                if (kind == Kind::Undecided) {
                    const bool prefix =
                        InternalBuf[static_cast<size_t>(ReadPos)] == BinaryDataPrefix[0] &&
                        InternalBuf[static_cast<size_t>((ReadPos + 1) % cap)] ==
                            BinaryDataPrefix[1];
                    if (prefix) {
                        kind = Kind::Frame;
                        needed = PlayloadLenOffset + 2;
                    } else {
                        kind = Kind::Line;
                    }
                }
                if (kind == Kind::Frame && avail >= PlayloadLenOffset + 2) {
                    const int32_t total = FrameLength(ReadPos, cap);
                    if (total > cap) {
                        // Cannot be a frame: drop the false prefix byte.
                        lock.unlock();
                        std::vector<uint8_t> one(1);
                        Read(one.data(), 0, 1);
                        return one;
                    }
                    needed = total;
                    if (avail >= total) {
                        lock.unlock();
                        std::vector<uint8_t> frame(static_cast<size_t>(total));
                        Read(frame.data(), 0, total);
                        return frame;
                    }
                } else if (kind == Kind::Line) {
                    // Search only the new part, in two pieces when it wraps.
                    int32_t from = (ReadPos + scanned) % cap;
                    int32_t left = avail - scanned;
                    while (left > 0) {
                        const int32_t piece = std::min(left, cap - from);
                        const void* hit = std::memchr(InternalBuf.get() + from, kLineFeed,
                                                      static_cast<size_t>(piece));
                        if (hit != nullptr) {
                            const auto index = static_cast<int32_t>(
                                static_cast<const uint8_t*>(hit) - InternalBuf.get());
                            return TakeLine(index);
                        }
                        left -= piece;
                        from = (from + piece) % cap;
                    }
                    scanned = avail;
                }
            }
        }

        // No progress.
        if (ended) {
            std::lock_guard<std::recursive_mutex> lock(ReadWriteMut);
            if (m_Count.load() == 0 || kind == Kind::Undecided || kind == Kind::Frame) {
                return std::nullopt;
            }
            if (ReadPos != stateReadPos || m_Count.load() != scanned) {
                // Another reader took bytes: start over on what is left. A lone byte can form
                // nothing, and the top of the loop would not look at it again.
                kind = Kind::Undecided;
                needed = 2;
                scanned = 0;
                stateReadPos = ReadPos;
                if (m_Count.load() < needed) return std::nullopt;
                continue;
            }
            if (InternalBuf[static_cast<size_t>(ReadPos)] == kLineFeed) return std::nullopt;
            return TakeRemainderAsLine();  // the unterminated last line
        }
        const int32_t timeout = m_ReadTimeout.load();
        if (timeout > 0 && platform::TickDiff(platform::TickCount(), start) > timeout) {
            throw TimeoutException("ReadLine Timeout");
        }
        WaitFor(kReadLinePollMs, [this, observed] {
            return m_Count.load() != observed || m_EndOfStream.load() || m_ErrorOccured.load();
        });
    }
}

// ---------------------------------------------------------------------------------------------
// Writing

void FIFOStream::Write(const uint8_t* buffer, int32_t offset, int32_t count) {
    CheckRange(buffer, offset, count);
    {
        std::lock_guard<std::recursive_mutex> lock(ReadWriteMut);
        const int32_t cap = capacity_.load();
        const int32_t filled = m_Count.load();
        if (static_cast<int64_t>(filled) + count > cap) throw OverflowException(kOverflowText);
        if (count == 0) return;
        const int32_t first = std::min(count, cap - WritePos);
        std::memcpy(InternalBuf.get() + WritePos, buffer + offset, static_cast<size_t>(first));
        if (count > first) {
            std::memcpy(InternalBuf.get(), buffer + offset + first,
                        static_cast<size_t>(count - first));
        }
        WritePos = (WritePos + count) % cap;
        m_Count.fetch_add(count);
    }
    SignalWaiters();
}

void FIFOStream::WriteByte(uint8_t value) {
    {
        std::lock_guard<std::recursive_mutex> lock(ReadWriteMut);
        const int32_t cap = capacity_.load();
        if (static_cast<int64_t>(m_Count.load()) + 1 >= cap) {
            throw OverflowException(kOverflowText);
        }
        InternalBuf[static_cast<size_t>(WritePos)] = value;
        WritePos = (WritePos + 1) % cap;
        m_Count.fetch_add(1);
    }
    SignalWaiters();
}

void FIFOStream::EndRead(SourceFault fault) {
    SourceFault none = SourceFault::None;
    fault_.compare_exchange_strong(none, fault == SourceFault::None ? SourceFault::Gone : fault);
    m_ErrorOccured.store(true);
    m_EndOfStream.store(true);
    SignalWaiters();
}

void FIFOStream::EndWrite() {
    m_EndOfStream.store(true);
    SignalWaiters();
}

// ---------------------------------------------------------------------------------------------
// Sending and control

void FIFOStream::SendCmd(const uint8_t* buffer, int32_t offset, int32_t count) {
    CheckRange(buffer, offset, count);
    SendCommandEvent.Raise(buffer, offset, count);
}

void FIFOStream::SendCmd(std::string_view text) {
    // One byte per UTF-16 unit, so the count equals the number of characters.
    const std::string bytes = platform::ToAsciiBytes(platform::Utf8ToUtf16(text));
    SendCommandEvent.Raise(reinterpret_cast<const uint8_t*>(bytes.data()), 0,
                           static_cast<int32_t>(bytes.size()));
}

void FIFOStream::DiscardInBuffer() {
    // Let a polled source move what is pending into the ring first, so it is dropped as well.
    LowBuffer.Raise(this);
    std::lock_guard<std::recursive_mutex> lock(ReadWriteMut);
    ReadPos = 0;
    WritePos = 0;
    m_Count.store(0);
}

void FIFOStream::usbRead() {
    usbLowBuffer.Raise(this);
}

void FIFOStream::SetLength(int32_t newCapacity) {
    if (newCapacity < 0) throw std::invalid_argument("negative capacity");
    auto ring = std::make_unique<uint8_t[]>(static_cast<size_t>(newCapacity));
    {
        std::lock_guard<std::recursive_mutex> lock(ReadWriteMut);
        const int32_t cap = capacity_.load();
        // Linearise from ReadPos, truncated to the new capacity.
        const int32_t keep = std::min(cap, newCapacity);
        const int32_t first = std::min(keep, cap - ReadPos);
        if (first > 0)
            std::memcpy(ring.get(), InternalBuf.get() + ReadPos, static_cast<size_t>(first));
        if (keep > first) {
            std::memcpy(ring.get() + first, InternalBuf.get(), static_cast<size_t>(keep - first));
        }
        const int32_t count = std::min(m_Count.load(), newCapacity);
        ReadPos = 0;
        WritePos = count == newCapacity ? 0 : count;
        m_Count.store(count);
        InternalBuf = std::move(ring);
        capacity_.store(newCapacity);
    }
    SignalWaiters();
}

void FIFOStream::Close() {
    StreamClosed.Raise(this);
}

void FIFOStream::Dispose() {
    Close();
}

// ---------------------------------------------------------------------------------------------
// Properties

int32_t FIFOStream::Count() const {
    return m_Count.load();
}

int32_t FIFOStream::Length() const {
    return capacity_.load();
}

bool FIFOStream::IsOpen() const {
    return !m_ErrorOccured.load() && (!m_EndOfStream.load() || m_Count.load() > 0);
}

SourceFault FIFOStream::Fault() const {
    return fault_.load();
}

bool FIFOStream::SourceLost() const {
    return m_ErrorOccured.load() && m_Count.load() == 0;
}

int32_t FIFOStream::ReadTimeout() const {
    return m_ReadTimeout.load();
}

void FIFOStream::ReadTimeout(int32_t milliseconds) {
    m_ReadTimeout.store(milliseconds);
}

double FIFOStream::LowBufThreshold() const {
    return m_LowBufThreshold.load();
}

void FIFOStream::LowBufThreshold(double fraction) {
    m_LowBufThreshold.store(fraction);
}

std::array<uint8_t, 2> FIFOStream::BinaryPrefix() const {
    return BinaryDataPrefix;
}
