// A download as the page receives it: an export of one file as itself, an
// export with companions (OBJ, glTF) as one zip archive of them all.
#pragma once

#include <string>
#include <variant>

#include "varlobooks/host_api.h"

namespace modeler {

struct HttpDownload {
    std::string name;
    std::string contentType;
    std::string bytes;
};

// files: an export's, named as name's; an error text when the archive
// cannot be made.
std::variant<HttpDownload, std::string> downloadOf(const VarlobooksFiles *files,
                                                   const std::string &name);

}  // namespace modeler
