// Drives a receive buffer with an operation sequence taken from the input and compares it with a
// plain deque model: content, counts, the units ReadLine cuts, and the errors raised. Blocking
// calls are made only when the model says they return at once.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <optional>
#include <vector>

#include "transport/fifo_stream.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool Empty() const { return pos >= size; }
    uint8_t Next() { return pos < size ? data[pos++] : 0; }
};

// Makes line ends, prefixes and short frame lengths common; other values pass unchanged.
uint8_t Alphabet(uint8_t b, const std::array<uint8_t, 2>& prefix) {
    if (b >= 0x80) return b;
    const uint8_t common[8] = {10, 13, prefix[0], prefix[1], 'a', 0x00, 0x01, 0x02};
    return common[b % 8];
}

void Check(bool ok) {
    if (!ok) std::abort();
}

struct Model {
    std::deque<uint8_t> bytes;
    int32_t capacity = 0;
    bool ended = false;
    bool failed = false;
    std::array<uint8_t, 2> prefix{};
    int32_t lengthOffset = 4;
    int32_t afterLength = 2;
    bool bigEndian = false;

    // What ReadLine returns without waiting; `wouldWait` when it would block instead.
    std::optional<std::vector<uint8_t>> NextUnit(bool& wouldWait, size_t& consumed) const {
        wouldWait = false;
        consumed = 0;
        const size_t n = bytes.size();
        if (n < 2) {
            wouldWait = !ended;
            return std::nullopt;
        }
        if (bytes[0] == prefix[0] && bytes[1] == prefix[1]) {
            const auto need = static_cast<size_t>(lengthOffset + 2);
            if (n < need) {
                wouldWait = !ended;
                return std::nullopt;
            }
            const uint8_t b0 = bytes[static_cast<size_t>(lengthOffset)];
            const uint8_t b1 = bytes[static_cast<size_t>(lengthOffset) + 1];
            const int32_t len = bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0;
            const int32_t total = len + afterLength + lengthOffset + 2;
            if (total > capacity) {
                consumed = 1;
                return std::vector<uint8_t>{bytes[0]};
            }
            if (n < static_cast<size_t>(total)) {
                wouldWait = !ended;
                return std::nullopt;
            }
            consumed = static_cast<size_t>(total);
            return std::vector<uint8_t>(bytes.begin(), bytes.begin() + total);
        }
        size_t lf = 0;
        while (lf < n && bytes[lf] != 10) ++lf;
        size_t len = lf;
        if (lf == n) {
            if (!ended) {
                wouldWait = true;
                return std::nullopt;
            }
            consumed = n;
        } else {
            consumed = lf + 1;
        }
        if (len > 0 && bytes[len - 1] == 13) --len;
        return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(len));
    }
};

void Invariants(const FIFOStream& f, const Model& m) {
    Check(f.Count() >= 0 && f.Count() <= f.Length());
    Check(f.Length() == m.capacity);
    Check(f.Count() == static_cast<int32_t>(m.bytes.size()));
    Check(f.IsOpen() == (!m.failed && (!m.ended || !m.bytes.empty())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    Model m;
    m.capacity = in.Next() % 80;
    const auto brand = static_cast<ReceiverBrand>(in.Next() % 8);
    FIFOStream f(m.capacity, brand);
    m.prefix = f.BinaryPrefix();
    if (m.prefix[0] == 0xA0) {
        m.lengthOffset = 2;
        m.afterLength = 4;
        m.bigEndian = true;
    }
    f.LowBufThreshold((in.Next() % 5) / 4.0);
    bool discarding = false;
    f.LowBuffer.Subscribe([&](FIFOStream* s) {
        // A polled source with bytes pending: they arrive just before a discard drops them.
        if (discarding && s->Count() + 2 <= s->Length()) {
            const uint8_t late[2] = {10, 13};
            s->Write(late, 0, 2);
        }
    });
    int32_t sent = 0;
    f.SendCommandEvent.Subscribe([&](const uint8_t*, int32_t, int32_t n) { sent += n; });

    uint8_t scratch[300];
    while (!in.Empty()) {
        const uint8_t op = in.Next();
        switch (op % 10) {
            case 0:
            case 1: {  // Write
                const int32_t n = in.Next() % 40;
                for (int32_t k = 0; k < n; ++k) scratch[k] = Alphabet(in.Next(), m.prefix);
                const bool fits = static_cast<int32_t>(m.bytes.size()) + n <= m.capacity;
                try {
                    f.Write(scratch, 0, n);
                    Check(fits);
                    m.bytes.insert(m.bytes.end(), scratch, scratch + n);
                } catch (const OverflowException&) {
                    Check(!fits);
                }
                break;
            }
            case 2: {  // WriteByte
                const uint8_t b = Alphabet(in.Next(), m.prefix);
                const bool fits = static_cast<int32_t>(m.bytes.size()) + 1 < m.capacity;
                try {
                    f.WriteByte(b);
                    Check(fits);
                    m.bytes.push_back(b);
                } catch (const OverflowException&) {
                    Check(!fits);
                }
                break;
            }
            case 3: {  // Read at an offset
                const int32_t off = in.Next() % 8;
                const int32_t n = in.Next() % 100;
                const int32_t got = f.Read(scratch, off, n);
                Check(got == std::min<int32_t>(n, static_cast<int32_t>(m.bytes.size())));
                for (int32_t k = 0; k < got; ++k) {
                    Check(scratch[off + k] == m.bytes.front());
                    m.bytes.pop_front();
                }
                break;
            }
            case 4: {  // ReadByte, only when it cannot block
                if (m.bytes.empty() && !m.ended) break;
                const int32_t b = f.ReadByte();
                if (m.bytes.empty()) {
                    Check(b == -1);
                } else {
                    Check(b == m.bytes.front());
                    m.bytes.pop_front();
                }
                break;
            }
            case 5: {  // ReadLine, only when it cannot block
                bool wouldWait = false;
                size_t consumed = 0;
                const auto expected = m.NextUnit(wouldWait, consumed);
                if (m.failed) {
                    try {
                        f.ReadLine();
                        Check(false);
                    } catch (const IOException&) {
                    }
                    break;
                }
                if (wouldWait) break;
                const auto unit = f.ReadLine();
                Check(unit == expected);
                m.bytes.erase(m.bytes.begin(), m.bytes.begin() + static_cast<long>(consumed));
                break;
            }
            case 6: {  // SetLength
                const int32_t cap = in.Next() % 80;
                f.SetLength(cap);
                m.capacity = cap;
                if (static_cast<int32_t>(m.bytes.size()) > cap) m.bytes.resize(cap);
                break;
            }
            case 7:
                discarding = (op & 0x10) != 0;
                f.DiscardInBuffer();
                discarding = false;
                m.bytes.clear();
                break;
            case 8: {
                const int32_t p = f.Peek();
                Check(p == (m.bytes.empty() ? -1 : m.bytes.front()));
                if (op & 0x10) {
                    const int32_t before = sent;
                    f.SendCmd(scratch, in.Next() % 8, in.Next() % 32);
                    Check(sent >= before);
                }
                break;
            }
            case 9:
                if ((op & 0x30) == 0x30) {
                    f.EndRead();
                    m.failed = m.ended = true;
                } else if (op & 0x20) {
                    f.EndWrite();
                    m.ended = true;
                }
                break;
        }
        Invariants(f, m);
    }
    return 0;
}
