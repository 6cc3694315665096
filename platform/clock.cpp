#include "platform/clock.h"

#include <atomic>
#include <chrono>

#include "platform/tick.h"

namespace platform {

namespace {

class SteadyClock : public Clock {
public:
    uint32_t Now() override {
        using namespace std::chrono;
        const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
        return static_cast<uint32_t>(static_cast<uint64_t>(ms.count()));
    }

    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   const std::function<bool()>& ready, uint32_t deadline) override {
        const uint32_t left = TickRemaining(Now(), deadline);
        return cv.wait_for(lock, std::chrono::milliseconds(left), ready);
    }
};

std::atomic<Clock*> current{nullptr};

}  // namespace

void Clock::SleepUntil(uint32_t deadline) {
    std::mutex mutex;
    std::condition_variable never;
    std::unique_lock<std::mutex> lock(mutex);
    WaitUntil(
        lock, never, [] { return false; }, deadline);
}

Clock& SystemClock() {
    // Never destroyed: detached reader threads may still sleep on it while the process exits.
    static SteadyClock* const clock = new SteadyClock;
    return *clock;
}

Clock& CurrentClock() {
    Clock* clock = current.load();
    return clock ? *clock : SystemClock();
}

ScopedClock::ScopedClock(Clock& clock) : previous_(current.exchange(&clock)) {}

ScopedClock::~ScopedClock() {
    current.store(previous_);
}

}  // namespace platform
