// The host's mesh-edit operations beside the plain reference: a build's
// calls go to both, and every answer, every fault and the layers after it
// must be the same, bit for bit. Used by the tool fuzz target and by
// seeded tests of raw calls.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "modeler/reference/plain_layer.h"
#include "modeler/reference/plain_mesh_edit.h"
#include "modeler/services/edit_operations.h"
#include "modeler/services/service_host.h"

namespace testing_support {

// A host's layer and the plain one, changed together. Differences found
// are kept as text.
struct TwinLayers {
    modeler::Host &host;
    modeler::reference::PlainLayer plain;
    std::vector<std::string> plainFaults;
    std::vector<std::string> differences;

    explicit TwinLayers(modeler::Host &h) : host(h) {}

    void beginEdit() {
        host.scene().beginEdit();
        plain.beginEdit();
    }
    void takeBackEdit() {
        host.scene().takeBackEdit();
        plain.takeBackEdit();
    }
    void commitEdit() {
        host.scene().commitEdit();
        plain.commitEdit();
    }
    void discardEdit() {
        host.scene().discardEdit();
        plain.discardEdit();
    }
    bool editOpen() const { return host.scene().layer().editOpen(); }

    void differ(const std::string &what) { differences.push_back(what); }
    // The layers and the faults so far.
    void compare(const char *when) {
        if (modeler::reference::plainStateOf(host.scene().layer()) != plain.state())
            differ(std::string("the layers differ ") + when);
        if (host.faults() != plainFaults) differ(std::string("the faults differ ") + when);
    }
};

// One build through both: op() is handed to the plug-in (or to a test);
// each call is made on the host's operations, then on the plain ones, and
// their answers compared. Kept until every call through op has been made,
// also calls after close.
class TwinEdit {
  public:
    explicit TwinEdit(TwinLayers &twins)
        : twins_(twins), fast_(twins.host), plain_(twins.plain, twins.plainFaults) {}
    MeshEditOp *op() { return &op_; }
    void close() {
        fast_.close();
        plain_.close();
    }

  private:
    static TwinEdit &from(EDStateRef state) { return *reinterpret_cast<TwinEdit *>(state); }
    // Runs the host's side as the host serving this thread would.
    template <typename Call>
    auto onHost(Call call) {
        const modeler::Host::Serving serving(twins_.host);
        return call(*fast_.op());
    }
    void check(bool same, const char *operation) {
        if (!same) twins_.differ(std::string(operation) + " answered differently");
        if (twins_.host.faults() != twins_.plainFaults)
            twins_.differ(std::string(operation) + " faulted differently");
    }

    static LWPntID addPoint(EDStateRef state, double *xyz) {
        TwinEdit &t = from(state);
        const LWPntID fast = t.onHost([&](MeshEditOp &op) { return op.addPoint(op.state, xyz); });
        MeshEditOp &plain = *t.plain_.op();
        t.check(plain.addPoint(plain.state, xyz) == fast, "addPoint");
        return fast;
    }
    static LWPolID addFace(EDStateRef state, const char *surface, int count,
                           const LWPntID *points) {
        TwinEdit &t = from(state);
        const LWPolID fast =
            t.onHost([&](MeshEditOp &op) { return op.addFace(op.state, surface, count, points); });
        MeshEditOp &plain = *t.plain_.op();
        t.check(plain.addFace(plain.state, surface, count, points) == fast, "addFace");
        return fast;
    }
    static EDError pntVPMap(EDStateRef state, LWPntID point, LWPolID polygon, LWID type,
                            const char *name, int dimension, float *values) {
        TwinEdit &t = from(state);
        const EDError fast = t.onHost([&](MeshEditOp &op) {
            return op.pntVPMap(op.state, point, polygon, type, name, dimension, values);
        });
        MeshEditOp &plain = *t.plain_.op();
        t.check(plain.pntVPMap(plain.state, point, polygon, type, name, dimension, values) == fast,
                "pntVPMap");
        return fast;
    }
    static void *selectVertexMap(EDStateRef state, const char *name, LWID type, int dimension) {
        TwinEdit &t = from(state);
        void *fast = t.onHost(
            [&](MeshEditOp &op) { return op.selectVertexMap(op.state, name, type, dimension); });
        MeshEditOp &plain = *t.plain_.op();
        // Map handles are addresses of each side's own: whether there is one.
        t.check((plain.selectVertexMap(plain.state, name, type, dimension) != nullptr) ==
                    (fast != nullptr),
                "selectVertexMap");
        return fast;
    }

    TwinLayers &twins_;
    modeler::MeshEdit fast_;
    modeler::reference::PlainMeshEdit plain_;
    MeshEditOp op_{reinterpret_cast<EDStateRef>(this), addPoint, addFace, pntVPMap,
                   selectVertexMap};
};

}  // namespace testing_support
