// The work grows with the shelf, not faster: four times the books may take
// at most eight times as long, for a rebuild and for leaving the tool (each
// once grew with the square of the books or worse). Ratios within one run,
// so that they hold on a busy machine; the speeds themselves are the
// benchmarks' concern.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>

#include "support.h"

namespace {

// The time this thread has run: other programs on a busy machine do not
// inflate it, as they inflate the time on the wall (a test run beside a
// build once took 8.1 times as long for four times the books). Windows'
// thread times tick in 16 ms steps, too coarse for these runs: the wall
// clock there.
double threadSeconds() {
#ifdef _WIN32
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
#else
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
#endif
}

// The shortest of three timings of run, which prepares outside the timing.
double bestSeconds(const std::function<void(std::function<void()> &)> &prepare) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        std::function<void()> timed;
        prepare(timed);
        const double start = threadSeconds();
        timed();
        best = std::min(best, threadSeconds() - start);
    }
    return best;
}

// A shelf of about `books` books in session's layer, the edit kept.
void buildShelf(testing_support::ToolSession &s, int books) {
    s.buildBox({0, 0, 0}, {static_cast<float>(books * 0.08), 0.5f, 0.3f}, 3);
    s.driver.end(true);
}

double leaveSeconds(int books) {
    std::unique_ptr<testing_support::ToolSession> session;
    return bestSeconds([&](std::function<void()> &timed) {
        session.reset();  // hosts end before the next begins
        session = std::make_unique<testing_support::ToolSession>();
        buildShelf(*session, books);
        timed = [&] { session->driver.done(SOURCE_DIR "/examples/covers"); };
    });
}

double rebuildSeconds(int books) {
    testing_support::ToolSession s;
    buildShelf(s, books);
    return bestSeconds([&](std::function<void()> &timed) {
        timed = [&] { s.driver.event(LWTOOL_EVENT_ACTIVATE); };
    });
}

}  // namespace

TEST(Scaling, LeavingTheToolGrowsWithTheBooks) {
    const double small = leaveSeconds(1000);
    const double large = leaveSeconds(4000);
    EXPECT_LT(large, 8 * small) << small << " s for 1,000 books, " << large << " s for 4,000";
}

TEST(Scaling, ARebuildGrowsWithTheBooks) {
    const double small = rebuildSeconds(1000);
    const double large = rebuildSeconds(4000);
    EXPECT_LT(large, 8 * small) << small << " s for 1,000 books, " << large << " s for 4,000";
}
