#include "timed_run.h"

#include "bench_mounts.h"
#include "process.h"
#include "test_support.h"

#include <poll.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <unistd.h>

namespace TessarnBench {

namespace {

// Until the process ends or the time is up; whether it ended.
bool awaitEnd(pid_t pid, std::chrono::seconds limit)
{
    // Through syscall(): glibc 2.36's <sys/pidfd.h> declares pidfd_open without C linkage.
    const int process = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (process < 0)
        throw std::runtime_error("pidfd_open failed");
    pollfd ended{process, POLLIN, 0};
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(limit);
    const int ready = ::poll(&ended, 1, static_cast<int>(milliseconds.count()));
    ::close(process);
    return ready == 1;
}

} // namespace

TimedRun runTimed(const std::vector<std::string>& argv, std::chrono::seconds limit,
                  const std::vector<std::string>& environment)
{
    const TessarnTest::TempDir output;
    const auto errFile = output.path() / "err";
    TimedRun run;
    {
        const auto start = std::chrono::steady_clock::now();
        TessarnTest::ChildProcess child(argv, output.path() / "out", errFile, environment);
        const bool ended = awaitEnd(child.pid(), limit);
        run.seconds = secondsSince(start);
        if (ended)
            run.status = child.poll().value_or(-1);
    }
    run.err = TessarnTest::readFile(errFile);
    return run;
}

} // namespace TessarnBench
