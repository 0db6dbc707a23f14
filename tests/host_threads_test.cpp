// Hosts on different threads share nothing: each thread's calls into the
// plug-in reach its own host, and each build's operations its own layer.
#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

#include "support.h"

namespace {

// The points of every build of a few shelves, rebuilt again and again as a
// drag does, on one host.
std::vector<modeler::Point> shelfPoints(int seed) {
    testing_support::ToolSession s;
    std::vector<modeler::Point> points;
    for (int round = 0; round < 20; ++round) {
        const float length = 0.5f + 0.1f * float(round % 7);
        s.buildBox({0, 0, 0}, {length, 0.3f, 0.2f}, seed + round);
        points.insert(points.end(), s.layer().points().begin(), s.layer().points().end());
    }
    return points;
}

TEST(HostThreads, TwoSessionsOnTwoThreadsBuildWhatEachBuildsAlone) {
    const std::array<int, 2> seeds = {7, 1000};
    std::array<std::vector<modeler::Point>, 2> alone, together;
    for (std::size_t i = 0; i < seeds.size(); ++i)
        alone[i] = shelfPoints(seeds[i]);
    ASSERT_NE(alone[0], alone[1]);
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < seeds.size(); ++i)
            threads.emplace_back([&, i] { together[i] = shelfPoints(seeds[i]); });
        for (std::thread &t : threads)
            t.join();
        EXPECT_EQ(together[0], alone[0]) << "attempt " << attempt;
        EXPECT_EQ(together[1], alone[1]) << "attempt " << attempt;
    }
}

TEST(HostThreads, AThreadThatServesNoHostIsToldSo) {
#ifndef _WIN32  // a death test starts the program again: slow and fragile under wine
    EXPECT_DEATH((void)modeler::Host::current(), "no host serves it");
#endif
    modeler::Host host;
#ifndef _WIN32
    EXPECT_DEATH((void)modeler::Host::current(), "no host serves it");
#endif
    const modeler::Host::Serving serving(host);
    EXPECT_EQ(&modeler::Host::current(), &host);
    {
        modeler::Host inner;
        const modeler::Host::Serving nested(inner);
        EXPECT_EQ(&modeler::Host::current(), &inner);
    }
    EXPECT_EQ(&modeler::Host::current(), &host);
}

}  // namespace
