// A program run to its end as a timed step of a benchmark.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace TessarnBench {

struct TimedRun {
    int status = -1; // -1: did not end in time, and was killed
    double seconds = 0;
    std::string err;
};

// Runs a program to its end, at most limit, and measures it to the microsecond: its end is
// waited for, not polled for as runProgram does every 5 ms, a quarter of find's time in a plain
// folder. Its standard output goes to a file, as a terminal's goes somewhere: GNU grep that
// writes to /dev/null stops at the first match. The given variables take the place of
// inherited ones of the same name.
TimedRun runTimed(const std::vector<std::string>& argv, std::chrono::seconds limit,
                  const std::vector<std::string>& environment = {});

} // namespace TessarnBench
