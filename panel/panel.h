// The numeric panel of the tool's eleven parameters. A view panel: every
// value lives in the BookTool and is read and written through panelGet and
// panelSet.
#pragma once

#include <cstdint>

#include "host/meshedit.h"

namespace varlobooks {

constexpr uint32_t fourCC(const char (&code)[5]) {
    return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
           (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

inline constexpr uint32_t kAxisId = fourCC("axii");
inline constexpr uint32_t kTypeId = fourCC("type");
inline constexpr uint32_t kMinSizeId = fourCC("sids");
inline constexpr uint32_t kMaxSizeId = fourCC("cseg");
inline constexpr uint32_t kRotationId = fourCC("radi");
inline constexpr uint32_t kSegmentsId = fourCC("nump");
inline constexpr uint32_t kPrefixId = fourCC("prfx");
inline constexpr uint32_t kRandomFrontId = fourCC("rafr");
inline constexpr uint32_t kRandomBackId = fourCC("rabk");
inline constexpr uint32_t kRandomTopId = fourCC("ratp");
inline constexpr uint32_t kRandomBottomId = fourCC("rabm");
inline constexpr uint32_t kHiddenId = fourCC("acti");

// Creates a new view panel on every call, owned by the host from then on.
// Null when the panel service cannot make one.
LWXPanelID createParameterPanel(LWInstance instance);

// The address of the value id stands for, or null for an id the panel does
// not describe (the hidden control included).
void *panelGet(void *instance, uint32_t id);

// Stores the value at value for id and asks for a rebuild: returns 1. An id
// the panel does not describe, or a number that is not finite, is refused:
// returns 0 and changes nothing. The four random fractions are clamped to
// 0..0.5; a prefix longer than 127 characters is cut to its first 127.
int panelSet(void *instance, uint32_t id, void *value);

}  // namespace varlobooks
