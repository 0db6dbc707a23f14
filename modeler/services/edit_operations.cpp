#include "modeler/services/edit_operations.h"

#include <cmath>
#include <cstring>
#include <unordered_map>

#include "modeler/services/service_host.h"

namespace modeler {
namespace {

// Handles are indices plus one, so that null is never a valid one.
template <typename Handle>
Handle toHandle(uint32_t index) {
    return reinterpret_cast<Handle>(static_cast<uintptr_t>(index) + 1);
}

template <typename Handle>
bool fromHandle(Handle handle, std::size_t limit, uint32_t &index) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value > limit) return false;
    index = static_cast<uint32_t>(value - 1);
    return true;
}

constexpr int kMaxFacePoints = 1 << 20;

// The builds whose operations may be called, by the state their record
// carries. A state is a number never used twice, so that operations kept
// past their build are recognised, never taken for a later build's.
std::unordered_map<uintptr_t, MeshEdit *> &openEdits() {
    static std::unordered_map<uintptr_t, MeshEdit *> edits;
    return edits;
}
uintptr_t gNextEdit = 1;
// The open build asked for last: nearly every call comes from the same one.
MeshEdit *gLastEdit = nullptr;

}  // namespace

MeshEdit::MeshEdit(Host &host)
    : host_(host),
      id_(gNextEdit++),
      op_{reinterpret_cast<EDStateRef>(id_), addPoint, addFace, pntVPMap, selectVertexMap},
      firstPoint_(host.scene().layer().points().size()),
      firstPolygon_(host.scene().layer().polygons().size()) {
    openEdits()[id_] = this;
}

MeshEdit::~MeshEdit() {
    close();
}

void MeshEdit::close() {
    openEdits().erase(id_);
    if (gLastEdit == this) gLastEdit = nullptr;
}

MeshEdit *MeshEdit::from(EDStateRef state, const char *operation) {
    const auto id = reinterpret_cast<uintptr_t>(state);
    if (gLastEdit && gLastEdit->id_ == id) return gLastEdit;
    auto it = openEdits().find(id);
    if (it != openEdits().end()) return gLastEdit = it->second;
    Host::current().fault(std::string(operation) + " called after its build returned");
    return nullptr;
}

LWPntID MeshEdit::addPoint(EDStateRef state, double *xyz) {
    MeshEdit *open = from(state, "addPoint");
    if (!open) return nullptr;
    MeshEdit &edit = *open;
    if (!xyz || !std::isfinite(xyz[0]) || !std::isfinite(xyz[1]) || !std::isfinite(xyz[2])) {
        edit.host_.fault("addPoint: a coordinate is missing or not a finite number");
        return nullptr;
    }
    return toHandle<LWPntID>(edit.host_.scene().layer().addPoint({xyz[0], xyz[1], xyz[2]}));
}

LWPolID MeshEdit::addFace(EDStateRef state, const char *surface, int count, const LWPntID *points) {
    MeshEdit *open = from(state, "addFace");
    if (!open) return nullptr;
    MeshEdit &edit = *open;
    Layer &layer = edit.host_.scene().layer();
    if (!surface || !*surface || count < 1 || count > kMaxFacePoints || !points) {
        edit.host_.fault("addFace: no surface name, no points or a bad point count");
        return nullptr;
    }
    edit.pointScratch_.resize(count);
    for (int i = 0; i < count; ++i) {
        if (!fromHandle(points[i], layer.points().size(), edit.pointScratch_[i])) {
            edit.host_.fault("addFace: point " + std::to_string(i) +
                             " is not a point of the layer");
            return nullptr;
        }
    }
    return toHandle<LWPolID>(layer.addPolygon(edit.surfaceFor(surface), edit.pointScratch_));
}

uint32_t MeshEdit::surfaceFor(const char *name) {
    for (const RecentSurface &recent : recentSurfaces_) {
        if (!recent.name.empty() && std::strcmp(recent.name.c_str(), name) == 0)
            return recent.index;
    }
    const uint32_t index = host_.scene().addSurface(name).index;
    recentSurfaces_[1] = std::move(recentSurfaces_[0]);
    recentSurfaces_[0] = {name, index};
    return index;
}

VertexMap &MeshEdit::mapFor(LWID type, const char *name, int dimension) {
    for (VertexMap *map : recentMaps_) {
        if (map && map->type() == type && map->dimension() == dimension &&
            std::strcmp(map->name().c_str(), name) == 0) {
            return *map;
        }
    }
    VertexMap &map = host_.scene().layer().vertexMap(type, name, dimension);
    recentMaps_[1] = recentMaps_[0];
    recentMaps_[0] = &map;
    return map;
}

EDError MeshEdit::pntVPMap(EDStateRef state, LWPntID point, LWPolID polygon, LWID type,
                           const char *name, int dimension, float *values) {
    MeshEdit *open = from(state, "pntVPMap");
    if (!open) return EDERR_BADARGS;
    MeshEdit &edit = *open;
    Layer &layer = edit.host_.scene().layer();
    uint32_t pointIndex = 0, polygonIndex = 0;
    if (!name || !*name || dimension < 1 || dimension > kMaxMapDimension || !values ||
        !fromHandle(point, layer.points().size(), pointIndex)) {
        edit.host_.fault("pntVPMap: no map name, a bad dimension or point, or no values");
        return EDERR_BADARGS;
    }
    for (int i = 0; i < dimension; ++i) {
        if (!std::isfinite(values[i])) {
            edit.host_.fault("pntVPMap: a value of map \"" + std::string(name) +
                             "\" is not finite");
            return EDERR_BADARGS;
        }
    }
    VertexMap &map = edit.mapFor(type, name, dimension);
    const std::size_t before = map.valueCount();
    if (!polygon) {
        layer.setPointValue(map, pointIndex, values);
    } else {
        if (!fromHandle(polygon, layer.polygons().size(), polygonIndex)) {
            edit.host_.fault("pntVPMap: not a polygon of the layer");
            return EDERR_BADARGS;
        }
        const auto corners = layer.polygonPoints(polygonIndex);
        uint32_t corner = 0;
        while (corner < corners.size() && corners[corner] != pointIndex)
            ++corner;
        if (corner == corners.size()) {
            edit.host_.fault("pntVPMap: the point is not a corner of the polygon");
            return EDERR_BADARGS;
        }
        layer.setCornerValue(map, polygonIndex, corner, values);
    }
    edit.values_ += map.valueCount() - before;
    return EDERR_NONE;
}

void *MeshEdit::selectVertexMap(EDStateRef state, const char *name, LWID type, int dimension) {
    MeshEdit *open = from(state, "selectVertexMap");
    if (!open) return nullptr;
    MeshEdit &edit = *open;
    if (!name || !*name || dimension < 1 || dimension > kMaxMapDimension) {
        edit.host_.fault("selectVertexMap: no map name or a bad dimension");
        return nullptr;
    }
    return &edit.mapFor(type, name, dimension);
}

BuildReport MeshEdit::report(bool countShells) const {
    const Layer &layer = host_.scene().layer();
    BuildReport report;
    report.points = layer.points().size() - firstPoint_;
    report.polygons = layer.polygons().size() - firstPolygon_;
    report.values = values_;
    if (countShells) report.shells = modeler::countShells(layer, firstPolygon_);
    return report;
}

}  // namespace modeler
