// The host's fast mesh-edit operations and layer against the plain
// reference: seeded sequences of raw calls (good and hostile, names from
// read-only memory and from buffers rewritten between calls, faces of up
// to 70 corners, values set in and out of corner order, calls after the
// build returned) and the real tool's builds, through both; every answer,
// fault and layer must be the same.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "differential_edit.h"
#include "support.h"

namespace {

using testing_support::TwinEdit;
using testing_support::TwinLayers;

// Names as a module's read-only strings hold them, known to the host as
// such: the fast operations compare each once.
const char kNames[] = "uv\0bookcover\0cover_1\0bookpages";
const char *const kStable[] = {kNames, kNames + 3, kNames + 13, kNames + 21};

class RawCalls {
  public:
    explicit RawCalls(uint32_t seed) : rng_(seed), twins_(host_) {
        const auto begin = reinterpret_cast<uintptr_t>(kNames);
        host_.addStableMemory(std::vector<modeler::MemoryRange>{{begin, begin + sizeof kNames}});
    }

    // A few builds, each in an edit that is then taken back, kept or
    // discarded, with calls kept past their build.
    void play() {
        for (int build = 0; build < 6; ++build) {
            if (!twins_.editOpen())
                twins_.beginEdit();
            else if (chance(0.5))
                twins_.takeBackEdit();
            edits_.push_back(std::make_unique<TwinEdit>(twins_));
            TwinEdit &edit = *edits_.back();
            points_.clear();
            lastFace_ = nullptr;
            const int calls = pick(0, 400);
            for (int i = 0; i < calls; ++i)
                call(*edit.op());
            edit.close();
            if (chance(0.3)) call(*edit.op());  // after its build returned
            twins_.compare("after a build");
            const int end = pick(0, 3);
            if (end == 0) twins_.commitEdit();
            if (end == 1) twins_.discardEdit();
            twins_.compare("after the edit ended");
        }
    }
    const std::vector<std::string> &differences() const { return twins_.differences; }

  private:
    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }

    const char *name() {
        switch (pick(0, 9)) {
            case 0:
                return nullptr;
            case 1:
                return "";
            case 2:
            case 3:
                // A buffer the caller rewrites, sometimes to a name it or a
                // stable string held before.
                std::snprintf(buffer_, sizeof buffer_, "%s", pick(0, 1) ? "cover_1" : "cover_2");
                if (chance(0.3)) std::snprintf(buffer_, sizeof buffer_, "cover_%d", pick(0, 40));
                return buffer_;
            default:
                return kStable[pick(0, 3)];
        }
    }
    LWPntID point() {
        if (points_.empty() || chance(0.03))
            return reinterpret_cast<LWPntID>(static_cast<uintptr_t>(pick(0, 100000)));
        return points_[std::size_t(pick(0, int(points_.size()) - 1))];
    }
    float value() { return chance(0.01) ? NAN : float(pick(-1000, 1000)) / 64.0f; }

    void call(MeshEditOp &op) {
        switch (pick(0, 9)) {
            case 0:
            case 1: {
                double xyz[3] = {pick(-9, 9) * 0.125, pick(-9, 9) * 0.5, chance(0.5) ? -0.0 : 0.0};
                if (chance(0.02)) xyz[pick(0, 2)] = INFINITY;
                if (LWPntID p = op.addPoint(op.state, chance(0.01) ? nullptr : xyz))
                    points_.push_back(p);
                break;
            }
            case 2: {
                std::vector<LWPntID> corners(std::size_t(pick(0, chance(0.1) ? 70 : 6)));
                for (LWPntID &corner : corners)
                    corner = point();
                lastFace_ = op.addFace(op.state, name(), int(corners.size()), corners.data());
                if (lastFace_) {
                    lastCorners_ = corners;
                    faces_.push_back(lastFace_);
                }
                break;
            }
            case 3:
                op.selectVertexMap(op.state, name(), LWVMAP_TXUV, pick(0, 5));
                break;
            default: {
                // Values of the last face's corners, in order, backwards or
                // at random; or of any face, or per point.
                LWPolID polygon = lastFace_;
                LWPntID at = point();
                if (lastFace_ && !lastCorners_.empty()) {
                    const int n = int(lastCorners_.size());
                    corner_ = chance(0.7) ? (corner_ + 1) % n : pick(0, n - 1);
                    at = lastCorners_[std::size_t(corner_)];
                }
                if (chance(0.1))
                    polygon = faces_.empty() ? nullptr
                                             : faces_[std::size_t(pick(0, int(faces_.size()) - 1))];
                if (chance(0.1)) polygon = nullptr;
                if (chance(0.02)) polygon = reinterpret_cast<LWPolID>(uintptr_t(pick(0, 100000)));
                const int dimension = chance(0.9) ? 2 : pick(0, 5);
                float values[5] = {value(), value(), value(), value(), value()};
                const LWID type = chance(0.95) ? LWVMAP_TXUV : LWID_('M', 'O', 'R', 'F');
                op.pntVPMap(op.state, at, polygon, type, name(), dimension,
                            chance(0.01) ? nullptr : values);
                break;
            }
        }
    }

    std::mt19937 rng_;
    modeler::Host host_;
    TwinLayers twins_;
    std::vector<std::unique_ptr<TwinEdit>> edits_;  // kept: calls may come after their build
    std::vector<LWPntID> points_;
    std::vector<LWPolID> faces_;
    LWPolID lastFace_ = nullptr;
    std::vector<LWPntID> lastCorners_;
    int corner_ = 0;
    char buffer_[32] = "cover_1";
};

TEST(Differential, RawCallsAnswerFaultAndFillTheLayerAsThePlainReference) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        RawCalls calls(seed);
        calls.play();
        ASSERT_TRUE(calls.differences().empty())
            << "seed " << seed << ": " << calls.differences().front();
    }
}

// The real tool's builds, rebuilt as drags do, through both.
TEST(Differential, TheToolsBuildsFillTheLayerAsThePlainReference) {
    testing_support::ToolSession s;
    TwinLayers twins(s.host);
    std::mt19937 rng(42);
    const auto any = [&rng](float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(rng);
    };
    std::vector<std::unique_ptr<TwinEdit>> edits;
    for (int round = 0; round < 40; ++round) {
        s.tool().axis = round % 3;
        s.tool().bookType = round % 3;
        s.tool().segments = 1 + round % 12;
        s.tool().rotation = round % 4 * 0.1;
        const float lo[3] = {any(-1, 0), any(-1, 0), any(-1, 0)};
        for (int i = 0; i < 3; ++i) {
            s.tool().boxMin[i] = lo[i];
            s.tool().boxMax[i] = lo[i] + any(0.2f, 1.5f);
        }
        s.tool().seed = round;
        if (twins.editOpen())
            twins.takeBackEdit();
        else
            twins.beginEdit();
        edits.push_back(std::make_unique<TwinEdit>(twins));
        s.driver.record().build(s.driver.instance(), edits.back()->op());
        edits.back()->close();
        twins.compare("after a build");
        if (round % 5 == 4) twins.commitEdit();
        ASSERT_TRUE(twins.differences.empty())
            << "round " << round << ": " << twins.differences.front();
    }
    if (twins.editOpen()) twins.commitEdit();
    EXPECT_GT(s.layer().polygons().size(), 100u);
}

}  // namespace
