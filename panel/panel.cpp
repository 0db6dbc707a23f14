#include "panel/panel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/service_handles.h"
#include "tool/book_tool.h"

namespace varlobooks {
namespace {

LWXPanelControl kControls[] = {
    {kAxisId, "Axis", "axis"},
    {kTypeId, "Type", "iPopChoice"},
    {kMinSizeId, "MinSize", "float"},
    {kMaxSizeId, "MaxSize", "float"},
    {kRotationId, "Rotation", "angle"},
    {kSegmentsId, "Book Segments", "integer"},
    {kPrefixId, "Surface Prefix", "string"},
    {kRandomFrontId, "Random Front", "float"},
    {kRandomBackId, "Random Back", "float"},
    {kRandomTopId, "Random Top", "float"},
    {kRandomBottomId, "Random Bottom", "float"},
    {kHiddenId, "--hidden--", "integer"},
    {0, nullptr, nullptr},
};

LWXPanelDataDesc kData[] = {
    {kAxisId, "Axis", "integer"},
    {kTypeId, "Type", "integer"},
    {kMinSizeId, "MinSize", "float"},
    {kMaxSizeId, "MaxSize", "float"},
    {kRotationId, "Rotation", "angle"},
    {kSegmentsId, "Book Segments", "integer"},
    {kPrefixId, "Surface Prefix", "string"},
    {kRandomFrontId, "Random Front", "float"},
    {kRandomBackId, "Random Back", "float"},
    {kRandomTopId, "Random Top", "float"},
    {kRandomBottomId, "Random Bottom", "float"},
    {0, nullptr, nullptr},
};

const char *kTypeChoices[] = {"Hardcover", "Softcover", "Both", nullptr};

LWXPanelHint kHints[] = {
    XPHINT_HIDE,
    kHiddenId,
    XPHINT_POPUP_CHOICES,
    kTypeId,
    reinterpret_cast<LWXPanelHint>(kTypeChoices),
    0,
    kAxisId,
    kTypeId,
    kRotationId,
    kMinSizeId,
    kMaxSizeId,
    kSegmentsId,
    kRandomFrontId,
    kRandomBackId,
    kRandomTopId,
    kRandomBottomId,
    0,
    0,
};

void *fieldFor(BookTool &tool, uint32_t id) {
    switch (id) {
        case kAxisId:
            return &tool.axis;
        case kTypeId:
            return &tool.bookType;
        case kMinSizeId:
            return &tool.minSize;
        case kMaxSizeId:
            return &tool.maxSize;
        case kRotationId:
            return &tool.rotation;
        case kSegmentsId:
            return &tool.segments;
        case kPrefixId:
            return tool.surfacePrefix;
        case kRandomFrontId:
            return &tool.randomFront;
        case kRandomBackId:
            return &tool.randomBack;
        case kRandomTopId:
            return &tool.randomTop;
        case kRandomBottomId:
            return &tool.randomBottom;
        default:
            return nullptr;
    }
}

bool isRandomFraction(uint32_t id) {
    return id == kRandomFrontId || id == kRandomBackId || id == kRandomTopId ||
           id == kRandomBottomId;
}

}  // namespace

LWXPanelID createParameterPanel(LWInstance) {
    const LWXPanelFuncs *xpanel = serviceHandles().xpanel;
    LWXPanelID panel = xpanel->create(LWXP_VIEW, kControls);
    if (!panel) return nullptr;
    xpanel->hint(panel, 0, kHints);
    xpanel->describe(panel, kData, panelGet, panelSet);
    return panel;
}

void *panelGet(void *instance, uint32_t id) {
    return fieldFor(*static_cast<BookTool *>(instance), id);
}

int panelSet(void *instance, uint32_t id, void *value) {
    auto &tool = *static_cast<BookTool *>(instance);
    void *field = fieldFor(tool, id);
    if (!field) return 0;
    switch (id) {
        case kAxisId:
        case kTypeId:
        case kSegmentsId:
            std::memcpy(field, value, sizeof(int));
            break;
        case kPrefixId: {
            const char *text = static_cast<const char *>(value);
            const std::size_t length = strnlen(text, kSurfacePrefixCapacity - 1);
            std::memcpy(tool.surfacePrefix, text, length);
            tool.surfacePrefix[length] = '\0';
            break;
        }
        default: {
            double number;
            std::memcpy(&number, value, sizeof number);
            // A NaN or infinite size or fraction would corrupt every book.
            if (!std::isfinite(number)) return 0;
            if (isRandomFraction(id)) number = std::clamp(number, 0.0, 0.5);
            std::memcpy(field, &number, sizeof number);
            break;
        }
    }
    tool.dirtyCode = 3;
    tool.updateCode = 1;
    return 1;
}

}  // namespace varlobooks
