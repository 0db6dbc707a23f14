// Reading the edited layer back in tests: polygons with their UV corners.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "host/meshedit.h"
#include "modeler/model/layer.h"

namespace testing_support {

struct UVCorner {
    uint32_t point;
    bool hasValue;
    float u, v;
};

// The corners of polygon with their values in map (type TXUV, dimension 2).
inline std::vector<UVCorner> uvCorners(const modeler::Layer &layer, uint32_t polygon,
                                       const std::string &map) {
    const modeler::VertexMap *m = layer.findVertexMap(LWVMAP_TXUV, map, 2);
    const modeler::Polygon &p = layer.polygons()[polygon];
    std::vector<UVCorner> corners;
    for (uint32_t c = 0; c < p.cornerCount; ++c) {
        const uint32_t index = p.firstCorner + c;
        const float *value = m ? m->cornerValue(index) : nullptr;
        corners.push_back({layer.corners()[index], value != nullptr, value ? value[0] : 0.f,
                           value ? value[1] : 0.f});
    }
    return corners;
}

inline const std::string &surfaceOf(const modeler::Layer &layer, uint32_t polygon) {
    return layer.surfaceNames()[layer.polygons()[polygon].surface];
}

}  // namespace testing_support
