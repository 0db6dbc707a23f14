#include "tool/press_clock.h"

#include <ctime>

namespace varlobooks {
namespace {

ModuleClockFunc *gClock = nullptr;
void *gClockData = nullptr;

}  // namespace

void setPressClock(ModuleClockFunc *clock, void *data) {
    gClock = clock;
    gClockData = clock ? data : nullptr;
}

int32_t clockSeconds() {
    // The seed is a 32-bit value: the clock is cut to its low 32 bits.
    const int64_t now = gClock ? gClock(gClockData) : static_cast<int64_t>(std::time(nullptr));
    return static_cast<int32_t>(static_cast<uint32_t>(now));
}

}  // namespace varlobooks
