#include "modeler/model/layer.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <numeric>

namespace modeler {
namespace {

std::string mapKey(uint32_t type, std::string_view name, int dimension) {
    std::string key(reinterpret_cast<const char *>(&type), sizeof type);
    key.push_back(static_cast<char>(dimension));
    key.append(name);
    return key;
}

}  // namespace

uint32_t Layer::addPolygon(uint32_t surface, std::span<const uint32_t> points) {
    assert(surface < surfaceNames_.size());
    // The corners first, taken back if the polygon cannot be added: an
    // allocation that fails leaves no polygon without its corners.
    const auto first = static_cast<uint32_t>(corners_.size());
    corners_.insert(corners_.end(), points.begin(), points.end());
    try {
        polygons_.push_back({surface, first, static_cast<uint32_t>(points.size())});
    } catch (...) {
        corners_.resize(first);
        throw;
    }
    return static_cast<uint32_t>(polygons_.size() - 1);
}

uint32_t Layer::internSurface(std::string_view name) {
    if (const uint32_t known = surfaceIndex_.find(name, surfaceNames_); known != NameIndex::kNone)
        return known;
    const auto index = static_cast<uint32_t>(surfaceNames_.size());
    // The name first: an allocation that fails in either step leaves the
    // list and its index as they were.
    surfaceNames_.emplace_back(name);
    try {
        surfaceIndex_.insert(surfaceNames_.back(), index);
    } catch (...) {
        surfaceNames_.pop_back();
        throw;
    }
    return index;
}

VertexMap &Layer::vertexMap(uint32_t type, std::string_view name, int dimension) {
    assert(dimension >= 1 && dimension <= kMaxMapDimension);
    std::string key = mapKey(type, name, dimension);
    if (auto it = mapIndex_.find(key); it != mapIndex_.end()) return *maps_[it->second];
    // Everything that allocates comes before the map is listed, so that a
    // failed allocation leaves the layer as it was.
    auto map = std::make_unique<VertexMap>(type, std::string(name), dimension);
    maps_.reserve(maps_.size() + 1);
    if (edit_.open) edit_.valueCounts.reserve(edit_.valueCounts.size() + 1);
    mapIndex_.emplace(std::move(key), maps_.size());
    maps_.push_back(std::move(map));
    if (edit_.open) edit_.valueCounts.push_back(0);
    return *maps_.back();
}

const VertexMap *Layer::findVertexMap(uint32_t type, std::string_view name, int dimension) const {
    auto it = mapIndex_.find(mapKey(type, name, dimension));
    return it == mapIndex_.end() ? nullptr : maps_[it->second].get();
}

bool Layer::ownsVertexMap(const void *handle) const {
    return std::any_of(maps_.begin(), maps_.end(),
                       [handle](const auto &map) { return map.get() == handle; });
}

void Layer::rememberOverwrite(VertexMap &map, bool corner, uint32_t index) {
    Overwrite record{&map, corner, index, false, {}};
    const float *old = corner ? map.cornerValue(index) : map.pointValue(index);
    if (old) {
        record.wasSet = true;
        std::copy(old, old + map.dimension_, record.old.begin());
    }
    edit_.overwrites.push_back(record);
}

void Layer::prepareValue(VertexMap &map, bool corner, uint32_t index) {
    const std::size_t mark = corner ? edit_.corners : edit_.points;
    if (edit_.open && index < mark) rememberOverwrite(map, corner, index);
    auto &set = corner ? map.cornerSet_ : map.pointSet_;
    auto &stored = corner ? map.cornerValues_ : map.pointValues_;
    if (set.size() <= index) {
        // Room for every corner or point the layer has and a few hundred
        // more: a build sets values as it adds polygons, and growing with
        // each polygon is many small steps. Entries past the layer's end
        // stay unset.
        const std::size_t count = corner ? corners_.size() : points_.size();
        const std::size_t size = std::max<std::size_t>(index + 1, count + 512);
        // The values first: the flags' length says which slots are there,
        // so a failed allocation leaves no flag without its value.
        stored.resize(size * map.dimension_, 0.0f);
        set.resize(size, 0);
    }
}

void Layer::beginEdit() {
    assert(!edit_.open);
    edit_.open = true;
    edit_.points = points_.size();
    edit_.polygons = polygons_.size();
    edit_.corners = corners_.size();
    edit_.surfaces = surfaceNames_.size();
    edit_.valueCounts.clear();
    for (const auto &map : maps_)
        edit_.valueCounts.push_back(map->valueCount_);
    edit_.overwrites.clear();
}

void Layer::rollBack() {
    // Older values first come back in reverse order of their replacement.
    for (auto it = edit_.overwrites.rbegin(); it != edit_.overwrites.rend(); ++it) {
        VertexMap &map = *it->map;
        auto &set = it->corner ? map.cornerSet_ : map.pointSet_;
        auto &values = it->corner ? map.cornerValues_ : map.pointValues_;
        set[it->index] = it->wasSet;
        std::copy(it->old.begin(), it->old.begin() + map.dimension_,
                  values.begin() + std::size_t(it->index) * map.dimension_);
    }
    edit_.overwrites.clear();
    // The taken-back corners' and points' values are unset, their room
    // kept: the next build sets values for as many again, and would
    // otherwise grow and clear the values' storage anew. Entries past the
    // layer's end are unset already.
    for (std::size_t i = 0; i < maps_.size(); ++i) {
        VertexMap &map = *maps_[i];
        const auto unset = [](LargeArray<uint8_t> &set, std::size_t from, std::size_t to) {
            if (from < set.size())
                std::fill(set.begin() + from, set.begin() + std::min(to, set.size()), 0);
        };
        unset(map.cornerSet_, edit_.corners, corners_.size());
        unset(map.pointSet_, edit_.points, points_.size());
        map.valueCount_ = edit_.valueCounts[i];
    }
    points_.resize(edit_.points);
    polygons_.resize(edit_.polygons);
    corners_.resize(edit_.corners);
    for (std::size_t s = edit_.surfaces; s < surfaceNames_.size(); ++s)
        surfaceIndex_.erase(surfaceNames_[s], static_cast<uint32_t>(s));
    surfaceNames_.resize(edit_.surfaces);
}

void Layer::takeBackEdit() {
    assert(edit_.open);
    rollBack();
}

void Layer::commitEdit() {
    assert(edit_.open);
    edit_ = Edit{};
}

void Layer::discardEdit() {
    assert(edit_.open);
    rollBack();
    edit_ = Edit{};
}

std::size_t Layer::valueCount() const {
    std::size_t total = 0;
    for (const auto &map : maps_)
        total += map->valueCount_;
    return total;
}

Shells findShells(const Layer &layer, std::size_t firstPolygon) {
    const std::size_t polygons = layer.polygons().size();
    Shells shells;
    if (firstPolygon >= polygons) return shells;
    uint32_t lowest = UINT32_MAX;
    for (std::size_t i = layer.polygons()[firstPolygon].firstCorner; i < layer.corners().size();
         ++i) {
        lowest = std::min(lowest, layer.corners()[i]);
    }
    std::vector<uint32_t> parent(layer.points().size() - lowest);
    std::iota(parent.begin(), parent.end(), 0u);
    auto root = [&parent](uint32_t p) {
        while (parent[p] != p)
            p = parent[p] = parent[parent[p]];
        return p;
    };
    for (std::size_t poly = firstPolygon; poly < polygons; ++poly) {
        const auto points = layer.polygonPoints(static_cast<uint32_t>(poly));
        const uint32_t first = root(points[0] - lowest);
        for (uint32_t p : points)
            parent[root(p - lowest)] = first;
    }
    std::vector<uint32_t> shellOfRoot(parent.size(), UINT32_MAX);
    shells.ofPolygon.reserve(polygons - firstPolygon);
    for (std::size_t poly = firstPolygon; poly < polygons; ++poly) {
        uint32_t &shell =
            shellOfRoot[root(layer.polygonPoints(static_cast<uint32_t>(poly))[0] - lowest)];
        if (shell == UINT32_MAX) shell = static_cast<uint32_t>(shells.count++);
        shells.ofPolygon.push_back(shell);
    }
    return shells;
}

}  // namespace modeler
