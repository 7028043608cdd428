// The arithmetic of the hydration checks and of the worker pool, without waiting for any of it.
#include "hydration_schedule.h"
#include "waiting_slot.h"
#include "worker_pool.h"

#include <gtest/gtest.h>
#include <numeric>
#include <optional>

using namespace TessarnFuse;

namespace {

TEST(HydrationSchedule, DelaysGrowByLucasNumbersUpToAboutTwentySixDays)
{
    const auto delays = hydrationCheckDelays();
    const std::int64_t expected[] = {10, 40, 110, 290, 760, 1990, 5210, 13640, 35710, 93490,
                                     244760, 640790};
    std::int64_t elapsed = 0;
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(delays[i].count(), expected[i]) << "check " << i + 1;
        elapsed += delays[i].count();
    }
    EXPECT_EQ(elapsed, 1036800) << "time of the twelfth check";
    EXPECT_EQ(delays.back().count(), 1414223240);
    const auto total = std::accumulate(delays.begin(), delays.end(), std::chrono::milliseconds(0));
    EXPECT_EQ(total.count(), 2288261250);
}

TEST(WorkerPool, TheLastMaxThreadsAmongTheArgumentsWins)
{
    EXPECT_EQ(effectiveMaxThreads({"tessarn", "-f"}), 64u);
    EXPECT_EQ(effectiveMaxThreads({"tessarn", "-o", "auto_unmount", "-o", "max_threads=64", "/m",
                                   "-o", "ro,max_threads=8"}),
              8u);
    EXPECT_EQ(effectiveMaxThreads({"tessarn", "-omax_threads=12", "-o", "max_threads=20"}), 20u);
    EXPECT_EQ(effectiveMaxThreads({"tessarn", "-o", "max_threads=30", "-omax_threads=7"}), 7u);
    EXPECT_EQ(effectiveMaxThreads({"tessarn", "-o"}), 64u);
}

TEST(WorkerPool, AReserveOfWorkersStaysFree)
{
    EXPECT_EQ(maxWaitingOpens(64), 40u);
    EXPECT_EQ(maxWaitingOpens(8), 5u);
    EXPECT_EQ(maxWaitingOpens(1), 1u);
}

TEST(WaitingSlot, ARefusedOpenDoesNotCountAgainstTheCap)
{
    std::atomic<unsigned> waiting{0};
    std::optional<WaitingSlot> first(std::in_place, waiting, 2);
    const WaitingSlot second(waiting, 2);
    ASSERT_TRUE(*first && second);
    const WaitingSlot refused(waiting, 2);
    EXPECT_FALSE(refused);
    // One wait ends while the refused open is still on its way out: its place is free.
    first.reset();
    const WaitingSlot third(waiting, 2);
    EXPECT_TRUE(third);
    EXPECT_EQ(waiting, 2u);
}

} // namespace
