// Applications for the hydration benchmarks: each opens and reads one file in a process of
// its own (a process that is not the sync client, so its open waits for the hydration), and
// reports the seconds from open to the whole content.
#pragma once

#include <filesystem>
#include <vector>

namespace TessarnBench {

// With a random pause before each open, so that the opens do not all meet the socket
// worker's 250 ms ticks at the same phase.
std::vector<double> openOneAfterAnother(const std::vector<std::filesystem::path>& files);
std::vector<double> openAllAtOnce(const std::vector<std::filesystem::path>& files);

// Reads in and writes out in 1 MiB pieces, as a download into the mount would.
void copyBytes(const std::filesystem::path& from, const std::filesystem::path& to);
// The baseline: the seconds of count plain copies of source to target.
std::vector<double> plainCopies(const std::filesystem::path& source,
                                const std::filesystem::path& target, int count);

double percentile(std::vector<double> values, double fraction);

} // namespace TessarnBench
