#include "modeler/services/wire_recorder.h"

namespace modeler {

WireRecorder::WireRecorder() : access_{this, moveTo, lineTo, circle} {}

void WireRecorder::moveTo(void *data, LWFVector pos, int style) {
    static_cast<WireRecorder *>(data)->calls_.push_back(
        {WireCall::MoveTo, {pos[0], pos[1], pos[2]}, 0, style});
}

void WireRecorder::lineTo(void *data, LWFVector pos, int style) {
    static_cast<WireRecorder *>(data)->calls_.push_back(
        {WireCall::LineTo, {pos[0], pos[1], pos[2]}, 0, style});
}

void WireRecorder::circle(void *data, double radius, int style) {
    static_cast<WireRecorder *>(data)->calls_.push_back({WireCall::Circle, {}, radius, style});
}

}  // namespace modeler
