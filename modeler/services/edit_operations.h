// The mesh-edit operations the host hands one build: points, faces and
// vertex map values go into the scene's layer, checked as a careful host
// checks a plug-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/meshedit.h"
#include "modeler/services/stable_memory.h"

namespace modeler {

class Host;
class Layer;
class VertexMap;
class MeshEdit;

// What one build added.
struct BuildReport {
    std::size_t shells = 0;  // connected groups of polygons: one per book
    std::size_t points = 0;
    std::size_t polygons = 0;
    std::size_t values = 0;  // vertex map values set
};

// For a point a build added, the polygon that took it last and that
// polygon's first corner at it.
struct EditFirstCorner {
    uint32_t polygon = UINT32_MAX;
    uint32_t corner = 0;
};

// One host's builds whose operations may be called, by the state their
// record carries. A state is a number the host never uses twice, so that
// operations kept past their build are recognised, never taken for a
// later build's.
class EditRegistry {
  private:
    friend class MeshEdit;
    std::unordered_map<uintptr_t, MeshEdit *> open_;
    uintptr_t next_ = 1;
    // The open build asked for last: nearly every call comes from it.
    MeshEdit *last_ = nullptr;
    // The emptied first-corner table of a build that ended, handed to the
    // next build so that its memory is reused rather than grown again.
    std::vector<EditFirstCorner> spareFirstCorners_;
};

class MeshEdit {
  public:
    explicit MeshEdit(Host &host);
    ~MeshEdit();
    MeshEdit(const MeshEdit &) = delete;
    MeshEdit &operator=(const MeshEdit &) = delete;

    MeshEditOp *op() { return &op_; }
    // The build has returned: any later call through op is a fault.
    void close();
    // What the build added; shells are counted (a walk over the build's
    // polygons) only when countShells is set.
    BuildReport report(bool countShells) const;

  private:
    // The open build a state stands for; null, with a fault recorded on
    // the running host, when its build has returned.
    static MeshEdit *from(EDStateRef state, const char *operation);
    static MeshEdit *findOpen(EditRegistry &edits, uintptr_t id, const char *operation);
    static LWPntID addPoint(EDStateRef state, double *xyz);
    static LWPolID addFace(EDStateRef state, const char *surface, int count, const LWPntID *points);
    static EDError pntVPMap(EDStateRef state, LWPntID point, LWPolID polygon, LWID type,
                            const char *name, int dimension, float *values);
    [[gnu::noinline]] static EDError pntVPMapAnyFace(EDStateRef state, LWPntID point,
                                                     LWPolID polygon, LWID type, const char *name,
                                                     int dimension, float *values);
    static EDError pntVPMapChecked(EDStateRef state, LWPntID point, LWPolID polygon, LWID type,
                                   const char *name, int dimension, float *values);
    bool setCornerUV(LWPntID point, LWPolID polygon, LWID type, const char *name,
                     const float *values);
    bool setLastFaceUV(LWPntID point, LWID type, const char *name, const float *values);
    VertexMap *stableUVMap(LWID type, const char *name) const;
    static void *selectVertexMap(EDStateRef state, const char *name, LWID type, int dimension);

    VertexMap &mapFor(LWID type, const char *name, int dimension);
    VertexMap &findMap(LWID type, const char *name, int dimension);
    uint32_t surfaceFor(const char *name);
    uint32_t findSurface(const char *name);
    uint32_t notedCorner(const Layer &layer, uint32_t polygon, uint32_t point) const;
    uint32_t cornerOf(uint32_t polygon, uint32_t point) const;
    void noteFirstCorners(uint32_t polygon, uint32_t firstCorner, std::span<const uint32_t> points);
    void remember(const char *&address, bool &stable, const char *name, std::size_t length);

    Host &host_;
    uintptr_t id_;
    MeshEditOp op_;
    std::size_t firstPoint_, firstPolygon_;
    std::size_t valuesBefore_;  // vertex-map values the layer held when the build began
    // The maps and surfaces named last, with the address each name came
    // from last: a build names the same few again and again.
    struct RecentMap {
        VertexMap *map = nullptr;
        LWID type = 0;  // the map's, kept here to be compared without it
        int dimension = 0;
        const char *address = nullptr;
        bool stable = false;              // the name at address cannot change
        const char *uvAddress = nullptr;  // address, when stable and of dimension 2
    };
    RecentMap recentMaps_[2];
    struct RecentSurface {
        std::string name;
        uint32_t index = 0;
        const char *address = nullptr;
        bool stable = false;
    };
    RecentSurface recentSurfaces_[2];
    std::vector<MemoryRange> stableMemory_;  // read-only memory of the loaded modules
    // Begins with the last face's points, as the layer numbers them.
    std::vector<uint32_t> pointScratch_;
    // The face added last, whose corners' values a build sets next, in
    // corner order or its reverse: its corner is found from the one set
    // before it, with no lookup in the layer.
    struct LastFace {
        LWPolID handle = nullptr;          // null: the last call to addFace added nothing
        const uint32_t *points = nullptr;  // in pointScratch_
        int count = 0;
        uint32_t firstCorner = 0;   // its first corner's index in the layer
        int corner = -1;            // the corner set last, -1 before the first
        uint64_t firstAtPoint = 0;  // bit i: corner i is the face's first at its point
    };
    LastFace lastFace_;
    // For each point this build added, the polygon that took it last and
    // that polygon's first corner at it: a build sets the values of a
    // face's corners just after adding the face, and this finds the corner
    // without a search.
    std::vector<EditFirstCorner> firstCorners_;
};

}  // namespace modeler
