#include "timed_run.h"

#include <gtest/gtest.h>

using namespace TessarnBench;
using namespace std::chrono_literals;

TEST(TimedRun, GivesTheStatusAndStandardErrorOfTheProgram)
{
    const auto run = runTimed({"sh", "-c", "echo \"$WHO failed\" >&2; exit 3"}, 10s, {"WHO=it"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "it failed\n");
}

TEST(TimedRun, OutputGoesToARegularFileNotToNull)
{
    // GNU grep writing to /dev/null stops at its first match and would measure nothing.
    EXPECT_EQ(runTimed({"sh", "-c", "test -f /proc/self/fd/1"}, 10s).status, 0);
}

TEST(TimedRun, KillsAProgramThatOutlivesItsLimit)
{
    // sleep would end with 0: -1 means it was stopped at the limit, not waited for.
    EXPECT_EQ(runTimed({"sleep", "30"}, 1s).status, -1);
}
