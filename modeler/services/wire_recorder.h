// A wire-draw access that records what a tool's preview draws, so that a
// session can show it and a test can check it.
#pragma once

#include <array>
#include <vector>

#include "host/wiredraw.h"

namespace modeler {

struct WireCall {
    enum Kind { MoveTo, LineTo, Circle } kind;
    std::array<float, 3> point{};  // MoveTo, LineTo
    double radius = 0;             // Circle
    int style = 0;
};

class WireRecorder {
  public:
    WireRecorder();
    LWWireDrawAccess *access() { return &access_; }
    const std::vector<WireCall> &calls() const { return calls_; }

  private:
    static void moveTo(void *data, LWFVector pos, int style);
    static void lineTo(void *data, LWFVector pos, int style);
    static void circle(void *data, double radius, int style);

    LWWireDrawAccess access_;
    std::vector<WireCall> calls_;
};

}  // namespace modeler
