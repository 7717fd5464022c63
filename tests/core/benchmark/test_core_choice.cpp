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
        // The thread stays on a core it was moved to even once the pin is gone: only its
        // allowed cores show that the pin still holds.
        EXPECT_EQ(allowedCores(), std::vector<int> { core }) << "probe not pinned to core " << core;
        return core == target ? 2.0 : 1.0;
    });

    EXPECT_EQ(chosen, target);
    for (int core : before)
        EXPECT_EQ(probesOn[core], 2) << "core " << core;
    EXPECT_EQ(allowedCores(), before);
    EXPECT_EQ(fastestCore({}, [] { return 1.0; }), -1);
}

// Which of the target core's two tries is interrupted.
class BestTryTest : public testing::TestWithParam<int> { };

TEST_P(BestTryTest, ACoreCountsWithItsBestTry)
{
    const std::vector<int> cores = allowedCores();
    if (cores.size() < 2)
        GTEST_SKIP() << "needs two cores";
    const int target = cores.front();
    int targetTries = 0;
    // One of the target's tries is interrupted; the other beats every other core.
    const int chosen = fastestCore(cores, [&] {
        if (sched_getcpu() != target)
            return 2.0;
        return ++targetTries == GetParam() ? 0.1 : 3.0;
    });
    EXPECT_EQ(chosen, target) << "core " << target << " not scored by its best try (try " << GetParam()
                              << " interrupted)";
}

INSTANTIATE_TEST_SUITE_P(InterruptedTry, BestTryTest, testing::Values(1, 2));

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
