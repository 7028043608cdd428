// Applications for the hydration benchmarks: each opens one file in a process of its own (a
// process that is not the sync client, so its open waits for the hydration), and reports the
// seconds from open to the whole content, or the moment its open returned.
#pragma once

#include <chrono>
#include <filesystem>
#include <sys/types.h>
#include <vector>

namespace TessarnBench {

// Seconds from open to the first bytes read and to the whole content.
struct Reading {
    double firstBytes = 0;
    double whole = 0;
};
// In a process of its own: the seconds from open to the whole content.
double openAndRead(const std::filesystem::path& file);
Reading openAndReadTimed(const std::filesystem::path& file);
// With a random pause before each open, as an application opening files one by one has.
std::vector<double> openOneAfterAnother(const std::vector<std::filesystem::path>& files);

struct AllAtOnce {
    std::vector<double> times;
    // From the release of the openers until the last of them has its whole content.
    double wall = 0;
};
AllAtOnce openAllAtOnce(const std::vector<std::filesystem::path>& files);

// Reads in and writes out in 1 MiB pieces, as a download into the mount would.
void copyBytes(const std::filesystem::path& from, const std::filesystem::path& to);
// The baseline: the seconds of count plain copies of source to target.
std::vector<double> plainCopies(const std::filesystem::path& source,
                                const std::filesystem::path& target, int count);
// The seconds of one run of the cp program, a process of its own as an application's copy is.
double cpCopy(const std::filesystem::path& source, const std::filesystem::path& target);

// CLOCK_MONOTONIC, which all processes of the machine share, in seconds.
double monotonicSeconds();

// What one of the waiting opens reported: which file, the errno of a failed open (0 when it
// opened), and the monotonic seconds at which open() returned.
struct OpenReturn {
    int index = -1;
    int error = 0;
    double returnedAt = 0;
};

// One opener process for each file, all blocked until release() so that the opens start
// together. None outlives the object or its time limit, whatever the daemon does.
class WaitingOpens {
public:
    WaitingOpens(const std::vector<std::filesystem::path>& files, std::chrono::seconds limit);
    ~WaitingOpens();
    WaitingOpens(const WaitingOpens&) = delete;
    WaitingOpens& operator=(const WaitingOpens&) = delete;

    void release();
    // The reports as they come, until every opener has reported or the deadline has passed.
    std::vector<OpenReturn> reports(std::chrono::steady_clock::time_point deadline);

private:
    // Two pipes for all of them rather than two for each: a thousand openers then need no more
    // descriptors than the default limit allows.
    int m_start[2] = {-1, -1};
    int m_reports[2] = {-1, -1};
    std::vector<pid_t> m_pids;
};

} // namespace TessarnBench
