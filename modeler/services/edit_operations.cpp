#include "modeler/services/edit_operations.h"

#include <bit>
#include <cmath>
#include <span>
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

// Whether a name the plug-in passed is the one remembered. Names are short
// and compared on almost every call: a loop of the known name's length,
// which stops at the first byte that differs (the plug-in's terminator
// among them, as a known name holds none), so that nothing past the
// plug-in's text is read.
inline bool sameName(const std::string &known, const char *name) {
    const char *k = known.data();
    for (std::size_t i = 0; i < known.size(); ++i) {
        if (name[i] != k[i]) return false;
    }
    return name[known.size()] == '\0';
}

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

// The first corner of a polygon at point, or the corner count when none is.
// Small polygons are scanned whole into a mask: the loop runs as long for
// every corner of the polygon, so that it does not mispredict where a
// search stopping at the match would.
uint32_t firstCornerAt(std::span<const uint32_t> corners, uint32_t point) {
    if (corners.size() <= 32) {
        uint32_t found = 0;
        for (uint32_t i = 0; i < corners.size(); ++i)
            found |= uint32_t(corners[i] == point) << i;
        return found ? uint32_t(std::countr_zero(found)) : uint32_t(corners.size());
    }
    uint32_t corner = 0;
    while (corner < corners.size() && corners[corner] != point)
        ++corner;
    return corner;
}

}  // namespace

MeshEdit::MeshEdit(Host &host)
    : host_(host),
      id_(gNextEdit++),
      op_{reinterpret_cast<EDStateRef>(id_), addPoint, addFace, pntVPMap, selectVertexMap},
      firstPoint_(host.scene().layer().points().size()),
      firstPolygon_(host.scene().layer().polygons().size()),
      stableMemory_(stableMemory()) {
    openEdits()[id_] = this;
}

MeshEdit::~MeshEdit() {
    close();
}

void MeshEdit::close() {
    openEdits().erase(id_);
    if (gLastEdit == this) gLastEdit = nullptr;
}

// Every operation starts here, so the common case (the build asked for
// last) is inline and the search out of line.
inline MeshEdit *MeshEdit::from(EDStateRef state, const char *operation) {
    const auto id = reinterpret_cast<uintptr_t>(state);
    if (gLastEdit && gLastEdit->id_ == id) [[likely]]
        return gLastEdit;
    return findOpen(id, operation);
}

MeshEdit *MeshEdit::findOpen(uintptr_t id, const char *operation) {
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

// The plug-in passes the same few names again and again, usually from the
// same addresses: the entry last seen at this address is tried first, so
// that the compare that decides is nearly always a match. An address in a
// module's read-only memory holds the same text for good: a name seen
// there once is not compared again. Any other address may hold another
// name by now, and its text is always compared.
uint32_t MeshEdit::surfaceFor(const char *name) {
    // A buffer the plug-in rewrites may be the address of both entries;
    // the newer one (first) is then the likelier.
    const int guess = name != recentSurfaces_[0].address && name == recentSurfaces_[1].address;
    if (const RecentSurface &likely = recentSurfaces_[guess];
        likely.address == name && likely.stable)
        return likely.index;
    for (int k : {guess, 1 - guess}) {
        RecentSurface &recent = recentSurfaces_[k];
        if (!recent.name.empty() && sameName(recent.name, name)) {
            remember(recent.address, recent.stable, name, recent.name.size());
            return recent.index;
        }
    }
    const uint32_t index = host_.scene().addSurface(name).index;
    recentSurfaces_[1] = std::move(recentSurfaces_[0]);
    RecentSurface &added = recentSurfaces_[0];
    added = {name, index, nullptr, false};
    remember(added.address, added.stable, name, added.name.size());
    return index;
}

VertexMap &MeshEdit::mapFor(LWID type, const char *name, int dimension) {
    const int guess = name == recentMaps_[1].address ? 1 : 0;
    if (const RecentMap &likely = recentMaps_[guess]; likely.address == name && likely.stable &&
                                                      likely.map->type() == type &&
                                                      likely.map->dimension() == dimension)
        return *likely.map;
    for (int k : {guess, 1 - guess}) {
        RecentMap &recent = recentMaps_[k];
        if (recent.map && recent.map->type() == type && recent.map->dimension() == dimension &&
            sameName(recent.map->name(), name)) {
            remember(recent.address, recent.stable, name, recent.map->name().size());
            return *recent.map;
        }
    }
    VertexMap &map = host_.scene().layer().vertexMap(type, name, dimension);
    recentMaps_[1] = recentMaps_[0];
    recentMaps_[0] = {&map, nullptr, false};
    remember(recentMaps_[0].address, recentMaps_[0].stable, name, map.name().size());
    return map;
}

// Where a remembered name was last seen, and whether its text (and its
// end) lies in read-only memory there.
void MeshEdit::remember(const char *&address, bool &stable, const char *name, std::size_t length) {
    if (address == name) return;
    address = name;
    stable = withinStableMemory(stableMemory_, name, length + 1);
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
        const uint32_t corner = firstCornerAt(corners, pointIndex);
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
