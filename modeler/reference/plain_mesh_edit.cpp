#include "modeler/reference/plain_mesh_edit.h"

#include <cmath>
#include <cstdint>

namespace modeler::reference {
namespace {

constexpr int kMaxFacePoints = 1 << 20;

// Handles are indices plus one, so that null is never a valid one.
template <typename Handle>
Handle handleOf(uint32_t index) {
    return reinterpret_cast<Handle>(static_cast<uintptr_t>(index) + 1);
}

}  // namespace

PlainMeshEdit::PlainMeshEdit(PlainLayer &layer, std::vector<std::string> &faults)
    : layer_(layer),
      faults_(faults),
      op_{reinterpret_cast<EDStateRef>(this), addPoint, addFace, pntVPMap, selectVertexMap} {}

bool PlainMeshEdit::usable(const char *operation) {
    if (!open_) faults_.push_back(std::string(operation) + " called after its build returned");
    return open_;
}

bool PlainMeshEdit::pointOf(LWPntID handle, uint32_t &index) const {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value > layer_.state().points.size()) return false;
    index = static_cast<uint32_t>(value - 1);
    return true;
}

bool PlainMeshEdit::polygonOf(LWPolID handle, uint32_t &index) const {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value > layer_.state().polygons.size()) return false;
    index = static_cast<uint32_t>(value - 1);
    return true;
}

LWPntID PlainMeshEdit::addPoint(EDStateRef state, double *xyz) {
    PlainMeshEdit &edit = from(state);
    if (!edit.usable("addPoint")) return nullptr;
    if (!xyz || !std::isfinite(xyz[0]) || !std::isfinite(xyz[1]) || !std::isfinite(xyz[2])) {
        edit.faults_.push_back("addPoint: a coordinate is missing or not a finite number");
        return nullptr;
    }
    return handleOf<LWPntID>(edit.layer_.addPoint({xyz[0], xyz[1], xyz[2]}));
}

LWPolID PlainMeshEdit::addFace(EDStateRef state, const char *surface, int count,
                               const LWPntID *points) {
    PlainMeshEdit &edit = from(state);
    if (!edit.usable("addFace")) return nullptr;
    if (!surface || !*surface || count < 1 || count > kMaxFacePoints || !points) {
        edit.faults_.push_back("addFace: no surface name, no points or a bad point count");
        return nullptr;
    }
    std::vector<uint32_t> indices;
    for (int i = 0; i < count; ++i) {
        uint32_t index = 0;
        if (!edit.pointOf(points[i], index)) {
            edit.faults_.push_back("addFace: point " + std::to_string(i) +
                                   " is not a point of the layer");
            return nullptr;
        }
        indices.push_back(index);
    }
    return handleOf<LWPolID>(edit.layer_.addPolygon(surface, std::move(indices)));
}

EDError PlainMeshEdit::pntVPMap(EDStateRef state, LWPntID point, LWPolID polygon, LWID type,
                                const char *name, int dimension, float *values) {
    PlainMeshEdit &edit = from(state);
    if (!edit.usable("pntVPMap")) return EDERR_BADARGS;
    uint32_t pointIndex = 0;
    if (!name || !*name || dimension < 1 || dimension > kMaxMapDimension || !values ||
        !edit.pointOf(point, pointIndex)) {
        edit.faults_.push_back("pntVPMap: no map name, a bad dimension or point, or no values");
        return EDERR_BADARGS;
    }
    for (int i = 0; i < dimension; ++i) {
        if (!std::isfinite(values[i])) {
            edit.faults_.push_back("pntVPMap: a value of map \"" + std::string(name) +
                                   "\" is not finite");
            return EDERR_BADARGS;
        }
    }
    // The map is made before the polygon is looked at, as a host that
    // selects the map first does.
    PlainMap &map = edit.layer_.map(type, name, dimension);
    const ValueBits bits = bitsOf(values, dimension);
    if (!polygon) {
        map.pointValues[pointIndex] = bits;
        return EDERR_NONE;
    }
    uint32_t polygonIndex = 0;
    if (!edit.polygonOf(polygon, polygonIndex)) {
        edit.faults_.push_back("pntVPMap: not a polygon of the layer");
        return EDERR_BADARGS;
    }
    // A value belongs to the polygon's first corner at the point.
    const std::vector<uint32_t> &corners = edit.layer_.state().polygons[polygonIndex].points;
    for (uint32_t corner = 0; corner < corners.size(); ++corner) {
        if (corners[corner] == pointIndex) {
            map.cornerValues[{polygonIndex, corner}] = bits;
            return EDERR_NONE;
        }
    }
    edit.faults_.push_back("pntVPMap: the point is not a corner of the polygon");
    return EDERR_BADARGS;
}

void *PlainMeshEdit::selectVertexMap(EDStateRef state, const char *name, LWID type, int dimension) {
    PlainMeshEdit &edit = from(state);
    if (!edit.usable("selectVertexMap")) return nullptr;
    if (!name || !*name || dimension < 1 || dimension > kMaxMapDimension) {
        edit.faults_.push_back("selectVertexMap: no map name or a bad dimension");
        return nullptr;
    }
    return &edit.layer_.map(type, name, dimension);
}

}  // namespace modeler::reference
