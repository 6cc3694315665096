#pragma once
// Millisecond tick count and sleeping, both read from the current clock (platform/clock.h).
// The tick is a 32-bit counter that wraps after about 49.7 days, so deadlines are compared
// through signed differences, never with plain '<'.
#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, on a monotonic clock, truncated to 32 bits.
uint32_t TickCount();

// Signed distance from `since` to `now` in milliseconds, correct across a wrap-around.
inline int32_t TickDiff(uint32_t now, uint32_t since) { return static_cast<int32_t>(now - since); }

// True once `now` has reached or passed `deadline` (wrap-around safe).
inline bool TickReached(uint32_t now, uint32_t deadline) { return TickDiff(now, deadline) >= 0; }

// Milliseconds left until `deadline`, 0 when it has passed.
inline uint32_t TickRemaining(uint32_t now, uint32_t deadline) {
    int32_t d = TickDiff(deadline, now);
    return d > 0 ? static_cast<uint32_t>(d) : 0u;
}

void SleepMs(uint32_t milliseconds);

}  // namespace platform
