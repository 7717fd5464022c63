#include "core/benchmark/core_choice.h"

#include <gtest/gtest.h>
#include <map>
#include <sched.h>

namespace vantrel {
namespace {

TEST(CoreChoice, ProbesEachCorePinnedToItAndThenGivesTheCoresBack)
{
    const std::vector<int> before = allowedCores();
    ASSERT_FALSE(before.empty());
    const int target = before.back();

    std::map<int, int> probesOn;
    const int chosen = fastestCore(before, [&] {
        const int core = sched_getcpu();
        ++probesOn[core];
        return core == target ? 2.0 : 1.0;
    });

    EXPECT_EQ(chosen, target);
    for (int core : before)
        EXPECT_EQ(probesOn[core], 2) << "core " << core;
    EXPECT_EQ(allowedCores(), before);
    EXPECT_EQ(fastestCore({}, [] { return 1.0; }), -1);
}

TEST(CoreChoice, ACoreCountsWithItsBestTry)
{
    const std::vector<int> cores = allowedCores();
    if (cores.size() < 2)
        GTEST_SKIP() << "needs two cores";
    const int target = cores.front();
    int targetTries = 0;
    // The target's first try is interrupted; its second beats every other core.
    const int chosen = fastestCore(cores, [&] {
        if (sched_getcpu() != target)
            return 2.0;
        return ++targetTries == 1 ? 0.1 : 3.0;
    });
    EXPECT_EQ(chosen, target);
}

TEST(CorePin, KeepsTheThreadOnOneCoreWhileItLives)
{
    const std::vector<int> before = allowedCores();
    ASSERT_FALSE(before.empty());
    {
        const CorePin pin(before.back());
        ASSERT_TRUE(pin.pinned());
        EXPECT_EQ(allowedCores(), std::vector<int> { before.back() });
        EXPECT_EQ(sched_getcpu(), before.back());
    }
    EXPECT_EQ(allowedCores(), before);
    EXPECT_FALSE(CorePin(-1).pinned());
    EXPECT_EQ(allowedCores(), before);
}

} // namespace
} // namespace vantrel
