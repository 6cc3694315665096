#pragma once
// The clock every deadline and timed wait reads. The program runs on the system's monotonic
// clock; a test installs its own (tests/support/fake_clock.h) so that time-outs pass in
// milliseconds of real time. Ticks are the 32-bit millisecond count of platform/tick.h.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;

    // Milliseconds since an arbitrary start, truncated to 32 bits.
    virtual uint32_t Now() = 0;

    // With `lock` held on `cv`'s mutex: waits until `ready()` holds or the tick reaches
    // `deadline`, whichever is first; returns ready(). Whoever makes `ready` true notifies `cv`.
    virtual bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                           const std::function<bool()>& ready, uint32_t deadline) = 0;

    // Sleeps until the tick reaches `deadline`.
    void SleepUntil(uint32_t deadline);
};

// The steady clock of the operating system.
Clock& SystemClock();

// The clock in use: the system clock unless a ScopedClock installed another.
Clock& CurrentClock();

// Installs `clock` for the whole process while it lives; restores the previous one after.
// Tests only: install before the code under test starts threads, remove after they ended.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    Clock* previous_;
};

}  // namespace platform
