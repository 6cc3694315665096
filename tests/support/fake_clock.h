#pragma once
// A clock for tests of time-outs. Manual: time stands still until Advance moves it. Running:
// time also passes by itself, `speedup` fake milliseconds per real one, for tests whose other
// side is a real thread or device (a 2,000 ms query ends after 2,000 / speedup real ms).
// Waiters look at the clock every real millisecond or so, so Advance wakes them without any
// notification.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/tick.h"

namespace testsupport {

class FakeClock : public platform::Clock {
public:
    explicit FakeClock(uint32_t start = 1000, double speedup = 0)
        : start_(start), speedup_(speedup) {}

    // A clock that runs `speedup` times faster than real time.
    static FakeClock Running(double speedup) { return FakeClock(1000, speedup); }

    uint32_t Now() override {
        uint64_t ms = start_ + advanced_.load();
        if (speedup_ > 0) {
            const auto real = std::chrono::steady_clock::now() - realStart_;
            ms += static_cast<uint64_t>(std::chrono::duration<double, std::milli>(real).count() *
                                        speedup_);
        }
        return static_cast<uint32_t>(ms);
    }

    void Advance(uint32_t ms) { advanced_.fetch_add(ms); }

    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                   const std::function<bool()>& ready, uint32_t deadline) override {
        waits_.fetch_add(1);
        while (!ready()) {
            const uint32_t left = platform::TickRemaining(Now(), deadline);
            if (left == 0) return ready();
            // Real time to the deadline when the clock runs, else a short look-again slice.
            const double realMs = speedup_ > 0 ? std::clamp(left / speedup_, 0.05, 1.0) : 1.0;
            cv.wait_for(lock, std::chrono::duration<double, std::milli>(realMs));
        }
        return true;
    }

    // Timed waits begun on this clock (a test can wait until the code under test waits).
    uint64_t Waits() const { return waits_.load(); }

private:
    const uint64_t start_;
    const double speedup_;
    const std::chrono::steady_clock::time_point realStart_ = std::chrono::steady_clock::now();
    std::atomic<uint64_t> advanced_{0};
    std::atomic<uint64_t> waits_{0};
};

// A fake clock that is never destroyed. Threads of the code under test (a simulator, a reader)
// may have fetched the current clock just before a test uninstalls it and still call it after;
// a clock that lives on keeps that harmless. Reachable from a static, so not a leak.
inline FakeClock& KeptFakeClock(uint32_t start = 1000, double speedup = 0) {
    static std::mutex mutex;
    static auto* const kept = new std::vector<std::unique_ptr<FakeClock>>;
    std::lock_guard<std::mutex> lock(mutex);
    kept->push_back(std::make_unique<FakeClock>(start, speedup));
    return *kept->back();
}

// A running fake clock, installed for the process while this lives: code under test that waits
// out a time-out does so `speedup` times faster than real time.
class ScopedFastClock {
public:
    // Starts at the system's tick, so code that outlives this sees no large jump back.
    explicit ScopedFastClock(double speedup = 25)
        : clock_(KeptFakeClock(platform::SystemClock().Now(), speedup)), use_(clock_) {}
    FakeClock& Clock() { return clock_; }

private:
    FakeClock& clock_;
    platform::ScopedClock use_;
};

// Milliseconds of `clock` that `run` took.
template <typename Run>
int64_t ElapsedTicks(platform::Clock& clock, Run&& run) {
    const uint32_t start = clock.Now();
    run();
    return platform::TickDiff(clock.Now(), start);
}

}  // namespace testsupport
