// The YMODEM sender against a receiver that answers with arbitrary bytes: each time the sender
// finds the receive buffer empty, the next piece of the input arrives (its first byte tells
// its length); when the input runs out, the link ends. The transfer must end, with a bounded
// number of writes, and may claim success only when every byte was acknowledged.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/byte_stream.h"
#include "transfer/ymodem.h"
#include "transport/fifo_stream.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t payloadSize = (data[0] | data[1] << 8) % 4200;
    size_t pos = 2;

    FIFOStream link(4096, ReceiverBrand::HD);
    link.ReadTimeout(1);
    size_t writes = 0;
    link.SendCommandEvent.Subscribe([&](const uint8_t*, int32_t, int32_t count) {
        Check(count == 1 || count == 133 || count == 1029);
        ++writes;
    });
    link.LowBuffer.Subscribe([&](FIFOStream* buffer) {
        if (buffer->Count() > 0) return;
        // At least one byte or the end, so no read ever waits for its time-out.
        const size_t n = pos < size ? std::min<size_t>(1 + data[pos] % 64, size - pos - 1) : 0;
        if (n == 0) {
            pos = size;
            buffer->EndWrite();
            return;
        }
        buffer->Write(data + pos + 1, 0, static_cast<int32_t>(n));
        pos += 1 + n;
        // Ended as soon as the last piece is in, so a read never waits for what cannot come.
        if (size - pos < 2) buffer->EndWrite();
    });

    std::vector<uint8_t> payload(payloadSize);
    for (size_t i = 0; i < payloadSize; ++i) payload[i] = static_cast<uint8_t>(i * 31);
    platform::MemoryStream source(payload);
    transfer::Ymodem modem;
    bool ok = false;
    try {
        ok = modem.sendStream(source, static_cast<int64_t>(payloadSize), "fuzz.bin", link);
    } catch (const TimeoutException&) {
        Check(false);  // the sender handles its own time-outs
    }
    Check(modem.finished);
    if (ok) Check(modem.bytesLeft == 0);
    const size_t blocks = 1 + (payloadSize + 1023) / 1024;
    const size_t bound = blocks * (1 + transfer::kYmodemMaxResends) + transfer::kYmodemReplyBudget +
                         1 + transfer::kYmodemMaxBatchEndResends + transfer::kYmodemCancelCount;
    Check(writes <= bound);
    return 0;
}
