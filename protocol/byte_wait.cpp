#include "protocol/byte_wait.h"

#include <algorithm>

#include "platform/tick.h"

bool AwaitBytes(FIFOStream& buffer, uint32_t deadline) {
    if (buffer.SourceLost()) return false;
    const uint32_t start = platform::TickCount();
    const uint32_t slice = std::min(platform::TickRemaining(start, deadline), kPollSliceMs);
    if (slice == 0 || buffer.WaitForData(slice)) return true;
    if (buffer.SourceLost()) return false;
    const auto waited =
        static_cast<uint32_t>(std::max(platform::TickDiff(platform::TickCount(), start), 0));
    if (waited < slice) platform::SleepMs(slice - waited);
    return true;
}
