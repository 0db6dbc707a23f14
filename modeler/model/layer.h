// The edited layer: points, polygons, surfaces by name and vertex maps with
// per-point and per-polygon-corner values, with edit transactions so that a
// tool's result can be rebuilt, kept or taken back.
#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "modeler/model/large_array.h"
#include "modeler/model/name_index.h"

namespace modeler {

using Point = std::array<double, 3>;

struct Polygon {
    uint32_t surface;      // index into surfaceNames()
    uint32_t firstCorner;  // into corners()
    uint32_t cornerCount;
};

inline constexpr int kMaxMapDimension = 4;

// One vertex map: values of dimension floats per point and per polygon
// corner. Owned by its layer; its address is its handle and never changes.
class VertexMap {
  public:
    VertexMap(uint32_t type, std::string name, int dimension)
        : type_(type), name_(std::move(name)), dimension_(dimension) {}

    uint32_t type() const { return type_; }
    const std::string &name() const { return name_; }
    int dimension() const { return dimension_; }

    // Null when the corner (global corner index) or point has no value here.
    const float *cornerValue(uint32_t corner) const {
        if (corner >= cornerSet_.size() || !cornerSet_[corner]) return nullptr;
        return &cornerValues_[std::size_t(corner) * dimension_];
    }
    const float *pointValue(uint32_t point) const {
        if (point >= pointSet_.size() || !pointSet_[point]) return nullptr;
        return &pointValues_[std::size_t(point) * dimension_];
    }
    std::size_t valueCount() const { return valueCount_; }

    // The lists as kept: a set flag and dimension values per corner (by the
    // layer's corner index) and per point. They may end before the layer's
    // lists do, where the last have no value.
    std::size_t cornerListSize() const {
        return std::min(cornerSet_.size(), cornerValues_.size() / dimension_);
    }
    const float *cornerValueList() const { return cornerValues_.data(); }
    const uint8_t *cornerSetList() const { return cornerSet_.data(); }
    std::size_t pointListSize() const {
        return std::min(pointSet_.size(), pointValues_.size() / dimension_);
    }
    const float *pointValueList() const { return pointValues_.data(); }
    const uint8_t *pointSetList() const { return pointSet_.data(); }

  private:
    friend class Layer;
    uint32_t type_;
    std::string name_;
    int dimension_;
    LargeArray<float> cornerValues_;  // dimension per corner
    LargeArray<uint8_t> cornerSet_;
    LargeArray<float> pointValues_;  // dimension per point
    LargeArray<uint8_t> pointSet_;
    std::size_t valueCount_ = 0;
};

class Layer {
  public:
    Layer() = default;
    Layer(const Layer &) = delete;
    Layer &operator=(const Layer &) = delete;

    uint32_t addPoint(const Point &point) {
        points_.push_back(point);
        return static_cast<uint32_t>(points_.size() - 1);
    }
    // points must be valid point indices; surface an index of surfaceNames().
    uint32_t addPolygon(uint32_t surface, std::span<const uint32_t> points);
    // The index of the surface name, added at the end when new. A name that
    // an edit added goes when the edit is taken back, as its polygons do.
    uint32_t internSurface(std::string_view name);

    // The map (type, name, dimension), created empty when missing. Maps are
    // never removed; their values follow the edits.
    VertexMap &vertexMap(uint32_t type, std::string_view name, int dimension);
    const VertexMap *findVertexMap(uint32_t type, std::string_view name, int dimension) const;
    bool ownsVertexMap(const void *handle) const;

    // corner: the index of the corner within polygon (0..cornerCount-1).
    void setCornerValue(VertexMap &map, uint32_t polygon, uint32_t corner, const float *values) {
        storeValue(map, true, polygons_[polygon].firstCorner + corner, values);
    }
    // The same when it can be done at once: false, with nothing changed,
    // when the lists must grow first or the open edit must keep the value
    // it replaces (setCornerValue does both).
    bool setCornerValueInPlace(VertexMap &map, uint32_t polygon, uint32_t corner,
                               const float *values) {
        return storeInPlace(map, true, polygons_[polygon].firstCorner + corner, values);
    }
    // The same for a map of dimension 2, by the corner's index in the
    // layer's corner list.
    bool setLayerCornerUVInPlace(VertexMap &map, uint32_t layerCorner, const float *values) {
        assert(map.dimension_ == 2);
        if (!inPlace(map, true, layerCorner)) return false;
        map.valueCount_ += !map.cornerSet_[layerCorner];
        map.cornerSet_[layerCorner] = 1;
        float *to = &map.cornerValues_[std::size_t(layerCorner) * 2];
        to[0] = values[0];
        to[1] = values[1];
        return true;
    }
    void setPointValue(VertexMap &map, uint32_t point, const float *values) {
        storeValue(map, false, point, values);
    }

    // Edit transactions. beginEdit marks the layer as it is; takeBackEdit
    // returns to that mark and keeps the edit open for the next result;
    // commitEdit keeps what was added; discardEdit takes it back and closes.
    void beginEdit();
    void takeBackEdit();
    void commitEdit();
    void discardEdit();
    bool editOpen() const { return edit_.open; }

    const LargeArray<Point> &points() const { return points_; }
    const LargeArray<Polygon> &polygons() const { return polygons_; }
    const LargeArray<uint32_t> &corners() const { return corners_; }
    std::span<const uint32_t> polygonPoints(uint32_t polygon) const {
        const Polygon &p = polygons_[polygon];
        return {corners_.data() + p.firstCorner, p.cornerCount};
    }
    const std::vector<std::string> &surfaceNames() const { return surfaceNames_; }
    std::span<const std::unique_ptr<VertexMap>> vertexMaps() const { return maps_; }
    std::size_t valueCount() const;

  private:
    struct Overwrite {
        VertexMap *map;
        bool corner;
        uint32_t index;
        bool wasSet;
        std::array<float, kMaxMapDimension> old;
    };
    struct Edit {
        bool open = false;
        std::size_t points = 0, polygons = 0, corners = 0, surfaces = 0;
        std::vector<std::size_t> valueCounts;  // per map at the mark
        std::vector<Overwrite> overwrites;     // values of older geometry replaced
    };
    void rememberOverwrite(VertexMap &map, bool corner, uint32_t index);
    // Sets the value of a corner (global corner index) or of a point. A
    // build sets values on what it just added, in order: that case is
    // inline; growing the lists and keeping older values are not.
    void storeValue(VertexMap &map, bool corner, uint32_t index, const float *values) {
        if (!inPlace(map, corner, index)) [[unlikely]]
            prepareValue(map, corner, index);
        writeValue(map, corner, index, values);
    }
    // Sets the value when its slot is there and holds nothing the open edit
    // must keep; false, with nothing changed, otherwise.
    bool storeInPlace(VertexMap &map, bool corner, uint32_t index, const float *values) {
        if (!inPlace(map, corner, index)) return false;
        writeValue(map, corner, index, values);
        return true;
    }
    bool inPlace(const VertexMap &map, bool corner, uint32_t index) const {
        const auto &set = corner ? map.cornerSet_ : map.pointSet_;
        const std::size_t mark = corner ? edit_.corners : edit_.points;
        return !(edit_.open && index < mark) && index < set.size();
    }
    void writeValue(VertexMap &map, bool corner, uint32_t index, const float *values) {
        auto &set = corner ? map.cornerSet_ : map.pointSet_;
        auto &stored = corner ? map.cornerValues_ : map.pointValues_;
        map.valueCount_ += !set[index];
        set[index] = 1;
        float *to = &stored[std::size_t(index) * map.dimension_];
        if (map.dimension_ == 2) {  // UVs, nearly every value a build sets
            to[0] = values[0];
            to[1] = values[1];
            return;
        }
        for (int i = 0; i < map.dimension_; ++i)
            to[i] = values[i];
    }
    void prepareValue(VertexMap &map, bool corner, uint32_t index);
    void rollBack();

    LargeArray<Point> points_;
    LargeArray<Polygon> polygons_;
    LargeArray<uint32_t> corners_;
    std::vector<std::string> surfaceNames_;
    NameIndex surfaceIndex_;
    std::vector<std::unique_ptr<VertexMap>> maps_;
    std::unordered_map<std::string, uint32_t> mapIndex_;
    Edit edit_;
};

// Connected groups among the polygons from firstPolygon on, joined through
// shared points: one per book, as every book is one closed shell.
struct Shells {
    std::vector<uint32_t> ofPolygon;  // per polygon from firstPolygon: 0 .. count - 1
    std::size_t count = 0;
};
// Works only over the points those polygons reach, so that it costs as much
// as one build, however large the layer around it.
Shells findShells(const Layer &layer, std::size_t firstPolygon = 0);
inline std::size_t countShells(const Layer &layer, std::size_t firstPolygon = 0) {
    return findShells(layer, firstPolygon).count;
}

}  // namespace modeler
