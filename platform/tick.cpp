#include "platform/tick.h"

#include "platform/clock.h"

namespace platform {

uint32_t TickCount() {
    return CurrentClock().Now();
}

void SleepMs(uint32_t milliseconds) {
    if (milliseconds == 0) return;
    Clock& clock = CurrentClock();
    clock.SleepUntil(clock.Now() + milliseconds);
}

}  // namespace platform
