// The module's second export (see exports.map): lets a host fix the clock a
// press reads, so that a recorded session replays the same books.
#include "host/clock.h"
#include "host/module.h"
#include "tool/press_clock.h"

extern "C" MODULE_EXPORT void varlobooksSetClock(VarlobooksClockFunc *clock, void *data) {
    varlobooks::setPressClock(clock, data);
}
