#include "module/leave_tool.h"

#include "imagemaps/image_maps.h"
#include "tool/book_tool.h"

namespace varlobooks {

void leaveTool(LWInstance instance) noexcept {
    auto *tool = static_cast<BookTool *>(instance);
    tool->updateCode = LWT_TEST_NOTHING;
    offerImageMaps(*tool);
    releaseBookTool(tool);
}

}  // namespace varlobooks
