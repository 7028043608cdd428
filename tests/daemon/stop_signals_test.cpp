// Stop signals and the waits they must cut short. A stop cannot be taken back: the test without
// one comes first, and every test runs in a process of its own under CTest.
#include "stop_signals.h"

#include <csignal>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace TessarnFuse;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

TEST(SleepUnlessStopping, SleepsTheWholeDelayWithoutAStop)
{
    const auto start = Clock::now();
    EXPECT_TRUE(sleepUnlessStopping(600ms));
    EXPECT_GE(Clock::now() - start, 600ms);
}

TEST(SleepUnlessStopping, AStopEndsEvenALongSleepAtOnce)
{
    installStopHandlers();
    std::thread stopper([] {
        std::this_thread::sleep_for(100ms);
        ::kill(::getpid(), SIGTERM);
    });
    auto start = Clock::now();
    EXPECT_FALSE(sleepUnlessStopping(5s));
    EXPECT_LT(Clock::now() - start, 2s) << "the rest of the delay was slept after the stop";
    stopper.join();

    start = Clock::now();
    EXPECT_FALSE(sleepUnlessStopping(5s));
    EXPECT_LT(Clock::now() - start, 1s) << "a stop requested earlier must not sleep at all";
}

} // namespace
