/*
 * The one extra entry of our module besides _mod_descrip: a host may set
 * the clock a pointer press reads its seed from, so that a scripted session
 * gives the same books on every run. Optional: a host that never calls it
 * leaves the tool on the calendar clock.
 */
#ifndef VARLOBOOKS_HOST_CLOCK_H
#define VARLOBOOKS_HOST_CLOCK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VARLOBOOKS_CLOCK_SYMBOL "varlobooksSetClock"

/* The seconds the clock reads now. data is the pointer given with it. */
typedef int64_t VarlobooksClockFunc(void *data);

/* Sets the clock for every instance of the module; null restores the
 * calendar clock. data must stay valid until the clock is replaced or the
 * module is unloaded. Called on the host's thread. */
typedef void VarlobooksSetClockFunc(VarlobooksClockFunc *clock, void *data);

#ifdef __cplusplus
}
#endif

#endif
