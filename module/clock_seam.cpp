// The contract's optional clock extension (host/clock.h; exported by
// exports.map): lets a host fix the clock a press reads, so that a
// recorded session replays the same books.
#include "host/clock.h"
#include "host/module.h"
#include "tool/press_clock.h"

extern "C" MODULE_EXPORT void _mod_set_clock(ModuleClockFunc *clock, void *data) {
    varlobooks::setPressClock(clock, data);
}
