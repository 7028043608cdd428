#include "openers.h"

#include "bench_mounts.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TessarnBench {

namespace {

// An application in its own process (the client's own opens would not hydrate): waits for the
// start byte, opens and reads the whole file, reports the seconds to its first and its last
// bytes.
struct Opener {
    pid_t pid;
    int start;
    int result;
};

Opener startOpener(const fs::path& file)
{
    int startPipe[2];
    int resultPipe[2];
    if (::pipe(startPipe) != 0 || ::pipe(resultPipe) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        char go;
        if (::read(startPipe[0], &go, 1) != 1)
            ::_exit(1);
        const auto begin = std::chrono::steady_clock::now();
        const int fd = ::open(file.c_str(), O_RDONLY);
        static char buffer[1 << 20];
        Reading reading{-1, -1};
        for (ssize_t count; fd >= 0 && (count = ::read(fd, buffer, sizeof(buffer))) > 0;) {
            if (reading.firstBytes < 0)
                reading.firstBytes = secondsSince(begin);
        }
        if (reading.firstBytes >= 0)
            reading.whole = secondsSince(begin);
        ::_exit(::write(resultPipe[1], &reading, sizeof(reading)) == sizeof(reading) ? 0 : 1);
    }
    ::close(startPipe[0]);
    ::close(resultPipe[1]);
    return {pid, startPipe[1], resultPipe[0]};
}

Reading finishOpener(const Opener& opener)
{
    Reading reading{-1, -1};
    if (::read(opener.result, &reading, sizeof(reading)) != sizeof(reading) || reading.whole < 0)
        throw std::runtime_error("an opener did not get the content");
    ::close(opener.result);
    ::waitpid(opener.pid, nullptr, 0);
    return reading;
}

void release(const Opener& opener)
{
    if (::write(opener.start, "g", 1) != 1)
        throw std::runtime_error("cannot start an opener");
    ::close(opener.start);
}

} // namespace

void copyBytes(const fs::path& from, const fs::path& to)
{
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_WRONLY | O_TRUNC);
    std::vector<char> buffer(1 << 20);
    for (ssize_t count; (count = ::read(in, buffer.data(), buffer.size())) > 0;) {
        if (::write(out, buffer.data(), static_cast<std::size_t>(count)) != count)
            throw std::runtime_error("short write to " + to.string());
    }
    ::close(in);
    ::close(out);
}

Reading openAndReadTimed(const fs::path& file)
{
    const auto opener = startOpener(file);
    release(opener);
    return finishOpener(opener);
}

double openAndRead(const fs::path& file)
{
    return openAndReadTimed(file).whole;
}

std::vector<double> openOneAfterAnother(const std::vector<fs::path>& files)
{
    std::mt19937 random(13);
    std::uniform_int_distribution<int> pause(0, 250);
    std::vector<double> times;
    for (const auto& file : files) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        times.push_back(openAndRead(file));
    }
    return times;
}

AllAtOnce openAllAtOnce(const std::vector<fs::path>& files)
{
    std::vector<Opener> openers;
    for (const auto& file : files)
        openers.push_back(startOpener(file));
    const auto begin = std::chrono::steady_clock::now();
    for (const auto& opener : openers)
        release(opener);
    AllAtOnce opens;
    for (const auto& opener : openers)
        opens.times.push_back(finishOpener(opener).whole);
    opens.wall = secondsSince(begin);
    return opens;
}

std::vector<double> plainCopies(const fs::path& source, const fs::path& target, int count)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        ::close(::open(target.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644));
        const auto begin = std::chrono::steady_clock::now();
        copyBytes(source, target);
        times.push_back(secondsSince(begin));
    }
    return times;
}

double cpCopy(const fs::path& source, const fs::path& target)
{
    const char* argv[] = {"cp", source.c_str(), target.c_str(), nullptr};
    const auto begin = std::chrono::steady_clock::now();
    pid_t pid = -1;
    int status = 0;
    // Waited for in one blocking call: a polling wait would add its interval to the copy.
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0 ||
        ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("cp to " + target.string() + " failed");
    return secondsSince(begin);
}

double monotonicSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

namespace {

// The opener's whole life: one start byte, the open, the report. The alarm's default action
// ends a process even while its open waits in the kernel for the daemon.
[[noreturn]] void runWaitingOpen(const fs::path& file, int index, int start, int reports,
                                 std::chrono::seconds limit)
{
    ::alarm(static_cast<unsigned>(limit.count()));
    char go;
    if (::read(start, &go, 1) != 1)
        ::_exit(1);
    const int fd = ::open(file.c_str(), O_RDONLY);
    const OpenReturn report{index, fd < 0 ? errno : 0, monotonicSeconds()};
    // A report is shorter than PIPE_BUF, so the openers' writes to the one pipe never mix.
    const bool sent = ::write(reports, &report, sizeof(report)) == sizeof(report);
    ::_exit(sent ? 0 : 1);
}

} // namespace

WaitingOpens::WaitingOpens(const std::vector<fs::path>& files, std::chrono::seconds limit)
{
    if (::pipe2(m_start, O_CLOEXEC) != 0 || ::pipe2(m_reports, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    for (std::size_t i = 0; i < files.size(); ++i) {
        const pid_t pid = ::fork();
        if (pid < 0)
            throw std::runtime_error("fork failed");
        if (pid == 0)
            runWaitingOpen(files[i], static_cast<int>(i), m_start[0], m_reports[1], limit);
        m_pids.push_back(pid);
    }
    ::close(m_start[0]);
    ::close(m_reports[1]);
}

WaitingOpens::~WaitingOpens()
{
    for (const pid_t pid : m_pids)
        ::kill(pid, SIGKILL);
    for (const pid_t pid : m_pids)
        ::waitpid(pid, nullptr, 0);
    ::close(m_start[1]);
    ::close(m_reports[0]);
}

void WaitingOpens::release()
{
    const std::string starts(m_pids.size(), 'g');
    if (::write(m_start[1], starts.data(), starts.size()) != static_cast<ssize_t>(starts.size()))
        throw std::runtime_error("cannot start the openers");
}

std::vector<OpenReturn> WaitingOpens::reports(std::chrono::steady_clock::time_point deadline)
{
    std::vector<OpenReturn> reports;
    while (reports.size() < m_pids.size()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{m_reports[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0)
            break;
        // Whole reports go into the pipe, so a read of one report's size gets one whole.
        OpenReturn report;
        if (::read(m_reports[0], &report, sizeof(report)) != sizeof(report))
            break;
        reports.push_back(report);
    }
    return reports;
}

} // namespace TessarnBench
