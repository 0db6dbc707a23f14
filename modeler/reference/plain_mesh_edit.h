// The mesh-edit operations of one build, as plainly as they can be written:
// every call checked in full, every name read and looked up, every corner
// searched for. The reference MeshEdit is proven equal to, answer for
// answer and fault for fault (tests/differential).
#pragma once

#include <string>
#include <vector>

#include "host/meshedit.h"
#include "modeler/reference/plain_layer.h"

namespace modeler::reference {

class PlainMeshEdit {
  public:
    // Faults are appended to faults, in the host's words.
    PlainMeshEdit(PlainLayer &layer, std::vector<std::string> &faults);
    PlainMeshEdit(const PlainMeshEdit &) = delete;
    PlainMeshEdit &operator=(const PlainMeshEdit &) = delete;

    // The state is this object: it must outlive every call made through op,
    // including calls after close.
    MeshEditOp *op() { return &op_; }
    // The build has returned: any later call through op is a fault.
    void close() { open_ = false; }

  private:
    static PlainMeshEdit &from(EDStateRef state) {
        return *reinterpret_cast<PlainMeshEdit *>(state);
    }
    bool usable(const char *operation);
    bool pointOf(LWPntID handle, uint32_t &index) const;
    bool polygonOf(LWPolID handle, uint32_t &index) const;

    static LWPntID addPoint(EDStateRef state, double *xyz);
    static LWPolID addFace(EDStateRef state, const char *surface, int count, const LWPntID *points);
    static EDError pntVPMap(EDStateRef state, LWPntID point, LWPolID polygon, LWID type,
                            const char *name, int dimension, float *values);
    static void *selectVertexMap(EDStateRef state, const char *name, LWID type, int dimension);

    PlainLayer &layer_;
    std::vector<std::string> &faults_;
    bool open_ = true;
    MeshEditOp op_;
};

}  // namespace modeler::reference
