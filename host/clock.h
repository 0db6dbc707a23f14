/*
 * An optional extension of the module contract: a module may export, under
 * MODULE_CLOCK_SYMBOL beside _mod_descrip, a function through which a host
 * sets the clock its tools read (for example the seed a pointer press takes
 * from the time), so that a scripted session gives the same result on every
 * run. A module without it, or a host that never calls it, keeps the
 * calendar clock.
 */
#ifndef MODULE_CLOCK_H
#define MODULE_CLOCK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MODULE_CLOCK_SYMBOL "_mod_set_clock"

/* The seconds the clock reads now. data is the pointer given with it. */
typedef int64_t ModuleClockFunc(void *data);

/* Sets the clock for every instance of the module; null restores the
 * calendar clock. data must stay valid until the clock is replaced or the
 * module is unloaded. Called on the host's thread. */
typedef void ModuleSetClockFunc(ModuleClockFunc *clock, void *data);

#ifdef __cplusplus
}
#endif

#endif
