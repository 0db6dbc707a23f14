#include "modeler/services/edit_operations.h"

#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>
#include <span>

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

// Whether a name the plug-in passed is the one remembered (a known name
// holds no terminator of its own). The C library's compare stops at the
// plug-in's terminator as a byte loop would, and takes many bytes a step:
// a name in a buffer the plug-in rewrites (one surface per shell, say) is
// compared on each face that uses it.
inline bool sameName(const std::string &known, const char *name) {
    return std::strcmp(known.c_str(), name) == 0;
}

// A refused call: the fault is recorded on the host and the call returns
// failure. Out of line, so that the checks cost the operations nothing
// while they pass.
[[gnu::cold, gnu::noinline]] EDError refuse(Host &host, const char *message) {
    host.fault(message);
    return EDERR_BADARGS;
}
[[gnu::cold, gnu::noinline]] EDError refuseValues(Host &host, const char *name) {
    host.fault("pntVPMap: a value of map \"" + std::string(name) + "\" is not finite");
    return EDERR_BADARGS;
}

// An operation that could not finish for want of memory: reported when even
// that can be, and refused, as nothing may be thrown into the plug-in.
[[gnu::cold, gnu::noinline]] void outOfMemory() noexcept {
    try {
        Host::current().fault("a mesh-edit operation ran out of memory and was refused");
    } catch (...) {
    }
}

inline bool allFinite(const float *values, int dimension) {
    if (dimension == 2) return std::isfinite(values[0]) && std::isfinite(values[1]);
    bool finite = true;
    for (int i = 0; i < dimension; ++i)
        finite &= std::isfinite(values[i]);
    return finite;
}

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
      id_(host.edits().next_++),
      op_{reinterpret_cast<EDStateRef>(id_), addPoint, addFace, pntVPMap, selectVertexMap},
      firstPoint_(host.scene().layer().points().size()),
      firstPolygon_(host.scene().layer().polygons().size()),
      valuesBefore_(host.scene().layer().valueCount()),
      stableMemory_(host.stableMemory()) {
    host.edits().open_[id_] = this;
    firstCorners_.swap(host.edits().spareFirstCorners_);
}

MeshEdit::~MeshEdit() {
    close();
    // Emptied, so that the next build starts with no entries of this one.
    firstCorners_.clear();
    std::vector<EditFirstCorner> &spare = host_.edits().spareFirstCorners_;
    if (firstCorners_.capacity() > spare.capacity()) firstCorners_.swap(spare);
}

void MeshEdit::close() {
    EditRegistry &edits = host_.edits();
    edits.open_.erase(id_);
    if (edits.last_ == this) edits.last_ = nullptr;
}

// Every operation starts here, so the common case (the build asked for
// last) is inline and the search out of line. The operations reach their
// host as every service does (Host::current); the state names the build.
inline MeshEdit *MeshEdit::from(EDStateRef state, const char *operation) {
    const auto id = reinterpret_cast<uintptr_t>(state);
    EditRegistry &edits = Host::current().edits();
    if (edits.last_ && edits.last_->id_ == id) [[likely]]
        return edits.last_;
    return findOpen(edits, id, operation);
}

MeshEdit *MeshEdit::findOpen(EditRegistry &edits, uintptr_t id, const char *operation) {
    auto it = edits.open_.find(id);
    if (it != edits.open_.end()) return edits.last_ = it->second;
    Host::current().fault(std::string(operation) + " called after its build returned");
    return nullptr;
}

// The plug-in passes the same few names again and again, usually from the
// same addresses: the entries last seen at this address are tried first,
// so that the compare that decides is nearly always a match. An address
// in a module's read-only memory holds the same text for good: a name seen
// there once is not compared again. Any other address may hold another
// name by now, and its text is always compared.
inline uint32_t MeshEdit::surfaceFor(const char *name) {
    for (const RecentSurface &recent : recentSurfaces_) {
        if (recent.address == name && (recent.stable || sameName(recent.name, name))) {
            // Read-only memory still holds the name it held.
            assert(sameName(recent.name, name));
            return recent.index;
        }
    }
    return findSurface(name);
}

LWPntID MeshEdit::addPoint(EDStateRef state, double *xyz) try {
    MeshEdit *open = from(state, "addPoint");
    if (!open) [[unlikely]]
        return nullptr;
    MeshEdit &edit = *open;
    if (!xyz || !(std::isfinite(xyz[0]) && std::isfinite(xyz[1]) && std::isfinite(xyz[2])))
        [[unlikely]] {
        refuse(edit.host_, "addPoint: a coordinate is missing or not a finite number");
        return nullptr;
    }
    return toHandle<LWPntID>(edit.host_.scene().layer().addPoint({xyz[0], xyz[1], xyz[2]}));
} catch (...) {
    return outOfMemory(), nullptr;
}

LWPolID MeshEdit::addFace(EDStateRef state, const char *surface, int count,
                          const LWPntID *points) try {
    MeshEdit *open = from(state, "addFace");
    if (!open) [[unlikely]]
        return nullptr;
    MeshEdit &edit = *open;
    Layer &layer = edit.host_.scene().layer();
    edit.lastFace_.handle = nullptr;
    if (!surface || !*surface || count < 1 || count > kMaxFacePoints || !points) [[unlikely]] {
        refuse(edit.host_, "addFace: no surface name, no points or a bad point count");
        return nullptr;
    }
    // Every handle converted, then checked once: a handle is its point's
    // index plus one, so null and past-the-end both fall outside the count.
    // Grown, never shrunk: faces of a few sizes alternate.
    if (edit.pointScratch_.size() < std::size_t(count)) edit.pointScratch_.resize(count);
    const std::span<uint32_t> facePoints(edit.pointScratch_.data(), std::size_t(count));
    const std::size_t pointCount = layer.points().size();
    bool valid = true;
    for (int i = 0; i < count; ++i) {
        const uintptr_t handle = reinterpret_cast<uintptr_t>(points[i]);
        valid &= handle - 1 < pointCount;
        facePoints[i] = static_cast<uint32_t>(handle - 1);
    }
    if (!valid) [[unlikely]] {
        uint32_t index = 0;
        int i = 0;
        while (fromHandle(points[i], pointCount, index))
            ++i;
        edit.host_.fault("addFace: point " + std::to_string(i) + " is not a point of the layer");
        return nullptr;
    }
    const uint32_t surfaceIndex = edit.surfaceFor(surface);
    // Room in the table before the polygon goes in: a refused call adds no
    // polygon.
    const std::size_t added = pointCount - edit.firstPoint_;
    if (edit.firstCorners_.size() < added) edit.firstCorners_.resize(added + 512);
    const uint32_t polygon = layer.addPolygon(surfaceIndex, facePoints);
    edit.noteFirstCorners(polygon, layer.polygons()[polygon].firstCorner, facePoints);
    return toHandle<LWPolID>(polygon);
} catch (...) {
    return outOfMemory(), nullptr;
}

// The table has room for every point the build added. Remembers the face
// as the last one added, with the bits of the corners that are its first
// at their points (none for a face of more than 64 corners: its values
// take the table's path).
void MeshEdit::noteFirstCorners(uint32_t polygon, uint32_t firstCorner,
                                std::span<const uint32_t> points) {
    assert(firstCorners_.size() >= host_.scene().layer().points().size() - firstPoint_);
    uint64_t first = points.size() <= 64 ? ~uint64_t(0) : 0;
    // Backwards, so that a point twice in the polygon keeps its first
    // corner; the later corner it replaces is no first.
    for (std::size_t i = points.size(); i-- > 0;) {
        const uint32_t point = points[i];
        if (point >= firstPoint_) {
            EditFirstCorner &entry = firstCorners_[point - firstPoint_];
            if (entry.polygon == polygon) first &= ~(uint64_t(1) << (entry.corner & 63));
            entry = {polygon, static_cast<uint32_t>(i)};
        } else if (firstCornerAt(points.first(i), point) != i) {
            first &= ~(uint64_t(1) << (i & 63));
        }
    }
    lastFace_ = {toHandle<LWPolID>(polygon),
                 points.data(),
                 static_cast<int>(points.size()),
                 firstCorner,
                 -1,
                 first};
}

// The corner the table noted for point when polygon is the last face that
// took it, UINT32_MAX otherwise.
inline uint32_t MeshEdit::notedCorner(const Layer &layer, uint32_t polygon, uint32_t point) const {
    if (point - firstPoint_ >= firstCorners_.size()) return UINT32_MAX;
    const EditFirstCorner entry = firstCorners_[point - firstPoint_];
    if (entry.polygon != polygon) return UINT32_MAX;
    const auto corners = layer.polygonPoints(polygon);
    return entry.corner < corners.size() && corners[entry.corner] == point ? entry.corner
                                                                           : UINT32_MAX;
}

// The first corner of polygon at point, or UINT32_MAX when it has none:
// from the table when the polygon is the last that took the point, by a
// search otherwise.
inline uint32_t MeshEdit::cornerOf(uint32_t polygon, uint32_t point) const {
    const Layer &layer = host_.scene().layer();
    if (const uint32_t noted = notedCorner(layer, polygon, point); noted != UINT32_MAX) [[likely]]
        return noted;
    const auto corners = layer.polygonPoints(polygon);
    const uint32_t corner = firstCornerAt(corners, point);
    return corner == corners.size() ? UINT32_MAX : corner;
}

uint32_t MeshEdit::findSurface(const char *name) {
    // The entry last seen at this address is the likelier: a buffer the
    // plug-in rewrites holds the same name for a while. When both were seen
    // there, the newer one (first).
    const int guess = name != recentSurfaces_[0].address && name == recentSurfaces_[1].address;
    for (int k : {guess, 1 - guess}) {
        RecentSurface &recent = recentSurfaces_[k];
        if (!recent.name.empty() && sameName(recent.name, name)) {
            remember(recent.address, recent.stable, name, recent.name.size());
            return recent.index;
        }
    }
    const uint32_t index = host_.scene().addSurface(name).index;
    // A new name in a buffer takes the place of the buffer's previous name,
    // so that the other entry (a name from read-only memory, such as the
    // surface every shell shares) stays; any other new name the older place.
    if (recentSurfaces_[0].address != name) {
        if (recentSurfaces_[1].address == name)
            std::swap(recentSurfaces_[0], recentSurfaces_[1]);
        else
            recentSurfaces_[1] = std::move(recentSurfaces_[0]);
    }
    RecentSurface &added = recentSurfaces_[0];
    added = {name, index, nullptr, false};
    remember(added.address, added.stable, name, added.name.size());
    return index;
}

// A build names one or two maps, from the same addresses: those are
// found inline, the rest out of line.
inline VertexMap &MeshEdit::mapFor(LWID type, const char *name, int dimension) {
    for (const RecentMap &recent : recentMaps_) {
        if (recent.address == name && recent.stable && recent.type == type &&
            recent.dimension == dimension) {
            assert(sameName(recent.map->name(), name) && recent.map->type() == type &&
                   recent.map->dimension() == dimension);
            return *recent.map;
        }
    }
    return findMap(type, name, dimension);
}

VertexMap &MeshEdit::findMap(LWID type, const char *name, int dimension) {
    const int guess = name == recentMaps_[1].address ? 1 : 0;
    for (int k : {guess, 1 - guess}) {
        RecentMap &recent = recentMaps_[k];
        if (recent.map && recent.map->type() == type && recent.map->dimension() == dimension &&
            sameName(recent.map->name(), name)) {
            remember(recent.address, recent.stable, name, recent.map->name().size());
            recent.uvAddress = recent.stable && dimension == 2 ? recent.address : nullptr;
            return *recent.map;
        }
    }
    VertexMap &map = host_.scene().layer().vertexMap(type, name, dimension);
    recentMaps_[1] = recentMaps_[0];
    RecentMap &added = recentMaps_[0];
    added = {&map, type, dimension, nullptr, false, nullptr};
    remember(added.address, added.stable, name, map.name().size());
    added.uvAddress = added.stable && dimension == 2 ? added.address : nullptr;
    return map;
}

// Where a remembered name was last seen, and whether its text (and its
// end) lies in read-only memory there.
void MeshEdit::remember(const char *&address, bool &stable, const char *name, std::size_t length) {
    if (address == name) return;
    address = name;
    stable = withinStableMemory(stableMemory_, name, length + 1);
}

// The call a build makes for nearly every value: a UV of a corner of a face
// it has just added, on a map it named before from read-only memory. Every
// check of the full path is made here too, in a few instructions; the
// full path takes every other call, and this one when a check fails.
EDError MeshEdit::pntVPMap(EDStateRef state, LWPntID point, LWPolID polygon, LWID type,
                           const char *name, int dimension, float *values) {
    MeshEdit *edit = Host::current().edits().last_;
    if (edit && edit->id_ == reinterpret_cast<uintptr_t>(state) && polygon &&
        polygon == edit->lastFace_.handle && values && dimension == 2 &&
        edit->setLastFaceUV(point, type, name, values)) [[likely]]
        return EDERR_NONE;
    return pntVPMapAnyFace(state, point, polygon, type, name, dimension, values);
}

// Any other value: of another face, or a check of the quick path failed.
EDError MeshEdit::pntVPMapAnyFace(EDStateRef state, LWPntID point, LWPolID polygon, LWID type,
                                  const char *name, int dimension, float *values) {
    MeshEdit *edit = Host::current().edits().last_;
    if (edit && edit->id_ == reinterpret_cast<uintptr_t>(state) && polygon && values &&
        dimension == 2 && edit->setCornerUV(point, polygon, type, name, values))
        return EDERR_NONE;
    return pntVPMapChecked(state, point, polygon, type, name, dimension, values);
}

// The map of a UV value named from read-only memory, as remembered; null
// when the name must be looked at.
inline VertexMap *MeshEdit::stableUVMap(LWID type, const char *name) const {
    // An entry with no UV address remembered holds null there: a null name
    // must not match it.
    if (!name) [[unlikely]]
        return nullptr;
    const RecentMap &recent = recentMaps_[recentMaps_[1].uvAddress == name];
    if (recent.uvAddress != name || recent.type != type) return nullptr;
    // A UV address is remembered only for a stable name of a map of
    // dimension 2, whose text is still the map's name.
    assert(recent.stable && recent.map->dimension() == 2 && sameName(recent.map->name(), name));
    return recent.map;
}

// A value of a corner of the last face, nearly always next to the one set
// before (in either direction): the point must be the one the face holds
// there (checked when the face was added), and the corner the face's first
// at it.
inline bool MeshEdit::setLastFaceUV(LWPntID point, LWID type, const char *name,
                                    const float *values) {
    LastFace &face = lastFace_;
    // No bits: a face of more than 64 corners (a face's first corner is
    // always the first at its point).
    if (face.firstAtPoint == 0) return false;
    const auto index = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(point) - 1);
    int corner = face.corner + 1;
    if (corner >= face.count || face.points[corner] != index) {
        corner = face.corner > 0 ? face.corner - 1 : face.count - 1;
        if (face.points[corner] != index) {
            // Out of order: a search of the face's corners, at most 64.
            corner = static_cast<int>(firstCornerAt({face.points, std::size_t(face.count)}, index));
            if (corner == face.count) return false;
        }
    }
    VertexMap *map = stableUVMap(type, name);
    if (!(face.firstAtPoint >> corner & 1) || !map || !allFinite(values, 2)) return false;
    // The face is the layer's last polygon, its points still in the scratch
    // list, and a set bit marks the face's first corner at its point.
    assert(face.points == pointScratch_.data() && std::size_t(face.count) <= pointScratch_.size());
    assert(face.handle == toHandle<LWPolID>(uint32_t(host_.scene().layer().polygons().size() - 1)));
    assert(firstCornerAt({face.points, std::size_t(face.count)}, index) == uint32_t(corner));
    if (!host_.scene().layer().setLayerCornerUVInPlace(
            *map, face.firstCorner + static_cast<uint32_t>(corner), values))
        return false;
    face.corner = corner;
    return true;
}

inline bool MeshEdit::setCornerUV(LWPntID point, LWPolID polygon, LWID type, const char *name,
                                  const float *values) {
    VertexMap *map = stableUVMap(type, name);
    if (!map || !allFinite(values, 2)) return false;
    Layer &layer = host_.scene().layer();
    uint32_t pointIndex = 0, polygonIndex = 0;
    if (!fromHandle(point, layer.points().size(), pointIndex) ||
        !fromHandle(polygon, layer.polygons().size(), polygonIndex))
        return false;
    const uint32_t corner = notedCorner(layer, polygonIndex, pointIndex);
    if (corner == UINT32_MAX) return false;
    // The table notes the polygon's first corner at the point.
    assert(firstCornerAt(layer.polygonPoints(polygonIndex), pointIndex) == corner);
    return layer.setCornerValueInPlace(*map, polygonIndex, corner, values);
}

EDError MeshEdit::pntVPMapChecked(EDStateRef state, LWPntID point, LWPolID polygon, LWID type,
                                  const char *name, int dimension, float *values) try {
    MeshEdit *open = from(state, "pntVPMap");
    if (!open) [[unlikely]]
        return EDERR_BADARGS;
    MeshEdit &edit = *open;
    Layer &layer = edit.host_.scene().layer();
    uint32_t pointIndex = 0, polygonIndex = 0;
    if (!name || !*name || dimension < 1 || dimension > kMaxMapDimension || !values ||
        !fromHandle(point, layer.points().size(), pointIndex)) [[unlikely]]
        return refuse(edit.host_, "pntVPMap: no map name, a bad dimension or point, or no values");
    if (!allFinite(values, dimension)) [[unlikely]]
        return refuseValues(edit.host_, name);
    VertexMap &map = edit.mapFor(type, name, dimension);
    if (!polygon) {
        layer.setPointValue(map, pointIndex, values);
    } else {
        if (!fromHandle(polygon, layer.polygons().size(), polygonIndex)) [[unlikely]]
            return refuse(edit.host_, "pntVPMap: not a polygon of the layer");
        const uint32_t corner = edit.cornerOf(polygonIndex, pointIndex);
        if (corner == UINT32_MAX) [[unlikely]]
            return refuse(edit.host_, "pntVPMap: the point is not a corner of the polygon");
        layer.setCornerValue(map, polygonIndex, corner, values);
    }
    return EDERR_NONE;
} catch (...) {
    return outOfMemory(), EDERR_NOMEMORY;
}

void *MeshEdit::selectVertexMap(EDStateRef state, const char *name, LWID type, int dimension) try {
    MeshEdit *open = from(state, "selectVertexMap");
    if (!open) return nullptr;
    MeshEdit &edit = *open;
    if (!name || !*name || dimension < 1 || dimension > kMaxMapDimension) {
        edit.host_.fault("selectVertexMap: no map name or a bad dimension");
        return nullptr;
    }
    return &edit.mapFor(type, name, dimension);
} catch (...) {
    return outOfMemory(), nullptr;
}

BuildReport MeshEdit::report(bool countShells) const {
    const Layer &layer = host_.scene().layer();
    BuildReport report;
    report.points = layer.points().size() - firstPoint_;
    report.polygons = layer.polygons().size() - firstPolygon_;
    // Only this build changes the layer while it is open: the values it
    // set are the layer's count less the count it began with.
    report.values = layer.valueCount() - valuesBefore_;
    if (countShells) report.shells = modeler::countShells(layer, firstPolygon_);
    return report;
}

}  // namespace modeler
