#include "panel/panel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>

#include "tool/book_tool.h"
#include "tool/tool_services.h"

namespace varlobooks {
namespace {

// The panel's controls in panel order; a value without a data type is a
// control only (the hidden one), which get and set never serve.
struct Parameter {
    uint32_t id;
    const char *label;
    const char *controlClass;
    const char *dataType;
};

constexpr Parameter kParameters[] = {
    {kAxisId, "Axis", "axis", "integer"},
    {kTypeId, "Type", "iPopChoice", "integer"},
    {kMinSizeId, "MinSize", "float", "float"},
    {kMaxSizeId, "MaxSize", "float", "float"},
    {kRotationId, "Rotation", "angle", "angle"},
    {kSegmentsId, "Book Segments", "integer", "integer"},
    {kPrefixId, "Surface Prefix", "string", "string"},
    {kRandomFrontId, "Random Front", "float", "float"},
    {kRandomBackId, "Random Back", "float", "float"},
    {kRandomTopId, "Random Top", "float", "float"},
    {kRandomBottomId, "Random Bottom", "float", "float"},
    {kHiddenId, "--hidden--", "integer", nullptr},
};
constexpr std::size_t kParameterCount = std::size(kParameters);

// The host keeps pointers into both tables for the panel's life: they are
// made once and never change.
LWXPanelControl *controlTable() {
    static std::array<LWXPanelControl, kParameterCount + 1> rows = [] {
        std::array<LWXPanelControl, kParameterCount + 1> table{};
        for (std::size_t i = 0; i < kParameterCount; ++i) {
            table[i] = {kParameters[i].id, kParameters[i].label, kParameters[i].controlClass};
        }
        return table;
    }();
    return rows.data();
}

LWXPanelDataDesc *dataTable() {
    static std::array<LWXPanelDataDesc, kParameterCount + 1> rows = [] {
        std::array<LWXPanelDataDesc, kParameterCount + 1> table{};
        std::size_t row = 0;
        for (const Parameter &p : kParameters) {
            if (p.dataType) table[row++] = {p.id, p.label, p.dataType};
        }
        return table;
    }();
    return rows.data();
}

const char *const kTypeChoices[] = {"Hardcover", "Softcover", "Both", nullptr};

const LWXPanelHint kHints[] = {
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
    const LWXPanelFuncs *xpanel = toolServices().xpanel;
    LWXPanelID panel = xpanel->create(LWXP_VIEW, controlTable());
    if (!panel) return nullptr;
    // The contract's pointers are writable; a host only reads the hints.
    xpanel->hint(panel, 0, const_cast<LWXPanelHint *>(kHints));
    xpanel->describe(panel, dataTable(), panelGet, panelSet);
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
    tool.dirtyCode = kDirtyAll;
    tool.updateCode = LWT_TEST_UPDATE;
    return 1;
}

}  // namespace varlobooks
