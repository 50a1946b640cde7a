// The console clock's series of sleeps: each deadline follows the one
// before, so that the work between ticks takes nothing from a row.
#include <cstdint>

#include <gtest/gtest.h>

#include "playback/playback.h"

namespace {

constexpr std::int64_t kTickNs = 5000000;

TEST(NextSleepDeadline, KeepsTheSeriesThroughWorkAndLateWakingAndStartsAgainAfterALongStop) {
    const std::int64_t start = 7000000000;
    // The first sleep of a run counts from now.
    std::int64_t deadline = playback::NextSleepDeadline(0, start, kTickNs);
    EXPECT_EQ(deadline, start + kTickNs);
    // Woken 80 us late, then 40 us spent on the next row: the next tick
    // still ends one tick after the last deadline, not after now.
    deadline = playback::NextSleepDeadline(deadline, deadline + 120000, kTickNs);
    EXPECT_EQ(deadline, start + 2 * kTickNs);
    // A 30 ms hold-up is caught up: the deadlines stay on the series even
    // though the next ones have passed already (those sleeps end at once).
    deadline = playback::NextSleepDeadline(deadline, deadline + 30000000, kTickNs);
    EXPECT_EQ(deadline, start + 3 * kTickNs);
    // Stopped for a second (a suspended job): the series starts again from
    // now rather than rushing a second's worth of ticks.
    const std::int64_t resumed = deadline + playback::kLongestCatchUpNs + 1;
    deadline = playback::NextSleepDeadline(deadline, resumed, kTickNs);
    EXPECT_EQ(deadline, resumed + kTickNs);
    // The end-of-song wait is part of the same series.
    EXPECT_EQ(playback::NextSleepDeadline(deadline, deadline + 1000, 2500000000), deadline + 2500000000);
}

}  // namespace
