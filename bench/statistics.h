// What the benchmarks make of their samples.
#pragma once

#include <limits>
#include <vector>

namespace TessarnBench {

// A workload that cannot run on a target, or a target that is missing, is not a number.
inline constexpr double notMeasured = std::numeric_limits<double>::quiet_NaN();

// The value at that fraction of the sorted samples, the nearest rank; the samples must not be
// empty.
double percentile(std::vector<double> values, double fraction);

// Not a number when any run failed: a median of the runs that happened to work would hide it.
double median(const std::vector<double>& values);

} // namespace TessarnBench
