#include "modeler/reference/plain_layer.h"

#include <algorithm>
#include <bit>

namespace modeler::reference {

PointBits bitsOf(const Point &point) {
    return {std::bit_cast<uint64_t>(point[0]), std::bit_cast<uint64_t>(point[1]),
            std::bit_cast<uint64_t>(point[2])};
}

ValueBits bitsOf(const float *values, int dimension) {
    ValueBits bits;
    for (int i = 0; i < dimension; ++i)
        bits.push_back(std::bit_cast<uint32_t>(values[i]));
    return bits;
}

uint32_t PlainLayer::addPoint(const Point &point) {
    state_.points.push_back(bitsOf(point));
    return static_cast<uint32_t>(state_.points.size() - 1);
}

uint32_t PlainLayer::addPolygon(const std::string &surface, std::vector<uint32_t> points) {
    if (std::find(state_.surfaces.begin(), state_.surfaces.end(), surface) == state_.surfaces.end())
        state_.surfaces.push_back(surface);
    state_.polygons.push_back({surface, std::move(points)});
    return static_cast<uint32_t>(state_.polygons.size() - 1);
}

PlainMap &PlainLayer::map(uint32_t type, const std::string &name, int dimension) {
    for (PlainMap &m : state_.maps) {
        if (m.type == type && m.name == name && m.dimension == dimension) return m;
    }
    state_.maps.push_back({type, name, dimension, {}, {}});
    return state_.maps.back();
}

void PlainLayer::takeBackEdit() {
    PlainLayerState back = *mark_;
    for (std::size_t i = back.maps.size(); i < state_.maps.size(); ++i) {
        const PlainMap &made = state_.maps[i];
        back.maps.push_back({made.type, made.name, made.dimension, {}, {}});
    }
    state_ = std::move(back);
}

PlainLayerState plainStateOf(const Layer &layer) {
    PlainLayerState plain;
    for (const Point &point : layer.points())
        plain.points.push_back(bitsOf(point));
    plain.surfaces = layer.surfaceNames();
    for (uint32_t p = 0; p < layer.polygons().size(); ++p) {
        const auto points = layer.polygonPoints(p);
        plain.polygons.push_back({layer.surfaceNames()[layer.polygons()[p].surface],
                                  std::vector<uint32_t>(points.begin(), points.end())});
    }
    for (const auto &map : layer.vertexMaps()) {
        PlainMap m{map->type(), map->name(), map->dimension(), {}, {}};
        const auto values = [&map](const float *v) { return bitsOf(v, map->dimension()); };
        for (uint32_t point = 0; point < layer.points().size(); ++point) {
            if (const float *v = map->pointValue(point)) m.pointValues[point] = values(v);
        }
        for (uint32_t p = 0; p < layer.polygons().size(); ++p) {
            const uint32_t first = layer.polygons()[p].firstCorner;
            for (uint32_t c = 0; c < layer.polygons()[p].cornerCount; ++c) {
                if (const float *v = map->cornerValue(first + c))
                    m.cornerValues[{p, c}] = values(v);
            }
        }
        plain.maps.push_back(std::move(m));
    }
    return plain;
}

}  // namespace modeler::reference
