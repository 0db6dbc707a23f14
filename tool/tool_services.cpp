#include "tool/tool_services.h"

namespace varlobooks {

ToolServices &toolServices() {
    static ToolServices services{};
    return services;
}

}  // namespace varlobooks
