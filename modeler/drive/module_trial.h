// A module is loaded first in a short-lived process of its own: a file
// whose dynamic section or relocations are corrupt can crash or abort the
// system's loader itself, which no check inside the host survives. Only a
// module that loaded and started there is loaded into the host.
#pragma once

#include <optional>
#include <string>

namespace modeler {

// The helper program that makes the trial, beside this code.
inline constexpr const char *kModuleTrialProgram = "varlobooks-module-trial";
// The line the trial writes last, once the module has loaded, started and
// been shut down and unloaded. Exit status 0 alone does not say it: a
// module's own code may end the process early with status 0.
inline constexpr const char *kModuleTrialPassed = "varlobooks-module-trial: passed";

// Why the module at path failed its trial (the loader's own one-line
// error, or the signal that ended the trial), or nullopt when it loaded
// and started there, or where no trial can be made (no helper beside this
// code, a system without one): then the host loads it directly.
std::optional<std::string> tryModuleApart(const std::string &path);

}  // namespace modeler
