// Systems without a trial process (Windows, a module linked into the
// program): the host loads the module directly.
#include "modeler/drive/module_trial.h"

namespace modeler {

std::optional<std::string> tryModuleApart(const std::string &) {
    return std::nullopt;
}

}  // namespace modeler
