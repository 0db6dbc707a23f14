// The clock a pointer press takes its seed from: the calendar, or a clock a
// host set so that a scripted session gives the same books on every run.
#pragma once

#include <cstdint>

#include "host/clock.h"

namespace varlobooks {

// Whole seconds of the calendar clock, or of the clock a host set.
int32_t clockSeconds();

// Makes clockSeconds read clock(data); a null clock restores the calendar.
void setPressClock(ModuleClockFunc *clock, void *data);

}  // namespace varlobooks
