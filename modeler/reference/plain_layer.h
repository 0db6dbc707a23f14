// The layer as plainly as it can be written: the reference the host's fast
// layer and mesh-edit operations are proven equal to (tests/differential).
// Nothing here is fast; everything here is obviously what it says.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "modeler/model/layer.h"

namespace modeler::reference {

struct PlainPolygon {
    std::string surface;
    std::vector<uint32_t> points;
    bool operator==(const PlainPolygon &) const = default;
};

// Numbers are kept as their bits, so that equal means bit for bit (0 and
// -0 differ).
using PointBits = std::array<uint64_t, 3>;
using ValueBits = std::vector<uint32_t>;
PointBits bitsOf(const Point &point);
ValueBits bitsOf(const float *values, int dimension);

struct PlainMap {
    uint32_t type = 0;
    std::string name;
    int dimension = 0;
    std::map<uint32_t, ValueBits> pointValues;  // by point
    // By polygon and the corner's place in it.
    std::map<std::pair<uint32_t, uint32_t>, ValueBits> cornerValues;
    bool operator==(const PlainMap &) const = default;
};

struct PlainLayerState {
    std::vector<PointBits> points;
    std::vector<PlainPolygon> polygons;
    std::vector<std::string> surfaces;  // in the order of first use
    std::vector<PlainMap> maps;         // in the order of creation
    bool operator==(const PlainLayerState &) const = default;
};

class PlainLayer {
  public:
    const PlainLayerState &state() const { return state_; }

    uint32_t addPoint(const Point &point);
    uint32_t addPolygon(const std::string &surface, std::vector<uint32_t> points);
    // The map (type, name, dimension), made empty when there is none.
    PlainMap &map(uint32_t type, const std::string &name, int dimension);

    // An edit is a copy of the layer taken at its start: taking it back
    // returns to the copy (maps made since stay, without values), keeping
    // it open; committing drops the copy; discarding returns and closes.
    void beginEdit() { mark_ = state_; }
    void takeBackEdit();
    void commitEdit() { mark_.reset(); }
    void discardEdit() {
        takeBackEdit();
        mark_.reset();
    }
    bool editOpen() const { return mark_.has_value(); }

  private:
    PlainLayerState state_;
    std::optional<PlainLayerState> mark_;
};

// The host's layer written out plainly, to compare with a PlainLayer.
PlainLayerState plainStateOf(const Layer &layer);

}  // namespace modeler::reference
