// The clock a pointer press takes its seed from.
#pragma once

#include <cstdint>

#include "host/clock.h"

namespace varlobooks {

// Whole seconds of the calendar clock, or of the clock a host set.
int32_t clockSeconds();

}  // namespace varlobooks

extern "C" VarlobooksSetClockFunc varlobooksSetClock;
