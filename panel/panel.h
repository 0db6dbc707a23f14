// The numeric panel of the tool's eleven parameters. A view panel: every
// value lives in the BookTool and is read and written through panelGet and
// panelSet.
#pragma once

#include <cstdint>

#include "host/meshedit.h"

namespace varlobooks {

// The control ids. Several letters do not match their labels ('sids' is
// MinSize, 'cseg' MaxSize, 'radi' Rotation, 'nump' Book Segments): hosts
// and saved panel layouts know the controls by these ids, so they stay.
inline constexpr uint32_t kAxisId = LWID_('a', 'x', 'i', 'i');
inline constexpr uint32_t kTypeId = LWID_('t', 'y', 'p', 'e');
inline constexpr uint32_t kMinSizeId = LWID_('s', 'i', 'd', 's');
inline constexpr uint32_t kMaxSizeId = LWID_('c', 's', 'e', 'g');
inline constexpr uint32_t kRotationId = LWID_('r', 'a', 'd', 'i');
inline constexpr uint32_t kSegmentsId = LWID_('n', 'u', 'm', 'p');
inline constexpr uint32_t kPrefixId = LWID_('p', 'r', 'f', 'x');
inline constexpr uint32_t kRandomFrontId = LWID_('r', 'a', 'f', 'r');
inline constexpr uint32_t kRandomBackId = LWID_('r', 'a', 'b', 'k');
inline constexpr uint32_t kRandomTopId = LWID_('r', 'a', 't', 'p');
inline constexpr uint32_t kRandomBottomId = LWID_('r', 'a', 'b', 'm');
inline constexpr uint32_t kHiddenId = LWID_('a', 'c', 't', 'i');

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
