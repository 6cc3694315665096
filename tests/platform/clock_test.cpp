// The clock seam: the tick and sleeps follow the installed clock, and a waiter on a fake clock
// wakes when the clock is advanced past its deadline or when its condition comes true.
#include <gtest/gtest.h>

#include <thread>

#include "platform/clock.h"
#include "platform/tick.h"
#include "support/fake_clock.h"

using testsupport::FakeClock;

TEST(Clock, TickAndSleepFollowTheInstalledClock) {
    FakeClock fake(0xFFFFFF00u);  // near the wrap-around
    {
        platform::ScopedClock use(fake);
        EXPECT_EQ(platform::TickCount(), 0xFFFFFF00u);
        std::thread advancer([&] {
            while (fake.Waits() == 0) std::this_thread::yield();
            fake.Advance(0x200);
        });
        platform::SleepMs(0x180);  // returns only once the fake time passed the deadline
        advancer.join();
        EXPECT_EQ(platform::TickCount(), 0x100u);
    }
    EXPECT_NE(&platform::CurrentClock(), &fake);
}

TEST(Clock, FakeWaitEndsAtTheDeadlineOrWhenReady) {
    FakeClock fake;
    std::mutex mutex;
    std::condition_variable cv;
    bool ready = false;
    struct Case {
        const char* name;
        bool makeReady;
        bool expected;
    } cases[] = {{"deadline", false, false}, {"ready", true, true}};
    for (const Case& c : cases) {
        ready = false;
        const uint32_t deadline = fake.Now() + 5000;
        const uint64_t before = fake.Waits();
        std::thread other([&] {
            while (fake.Waits() == before) std::this_thread::yield();
            if (c.makeReady) {
                std::lock_guard<std::mutex> lock(mutex);
                ready = true;
                cv.notify_all();
            } else {
                fake.Advance(5000);
            }
        });
        std::unique_lock<std::mutex> lock(mutex);
        EXPECT_EQ(fake.WaitUntil(
                      lock, cv, [&] { return ready; }, deadline),
                  c.expected)
            << c.name;
        lock.unlock();
        other.join();
    }
}

TEST(Clock, RunningFakeClockPassesTimeFaster) {
    testsupport::ScopedFastClock fast(100);
    const auto real = std::chrono::steady_clock::now();
    const int64_t ticks = testsupport::ElapsedTicks(fast.Clock(), [] { platform::SleepMs(2000); });
    const auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - real)
                            .count();
    EXPECT_GE(ticks, 2000);
    EXPECT_LT(realMs, 1000);  // 20 ms expected; generous for a loaded machine
}
