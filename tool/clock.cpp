#include "tool/clock.h"

#include <ctime>

namespace {

VarlobooksClockFunc *gClock = nullptr;
void *gClockData = nullptr;

}  // namespace

extern "C" __attribute__((visibility("default"))) void varlobooksSetClock(
    VarlobooksClockFunc *clock, void *data) {
    gClock = clock;
    gClockData = data;
}

namespace varlobooks {

int32_t clockSeconds() {
    // The seed is a 32-bit value: the clock is cut to its low 32 bits.
    const int64_t now = gClock ? gClock(gClockData) : static_cast<int64_t>(std::time(nullptr));
    return static_cast<int32_t>(static_cast<uint32_t>(now));
}

}  // namespace varlobooks
