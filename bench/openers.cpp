#include "openers.h"

#include "bench_mounts.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <random>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TessarnBench {

namespace {

// An application in its own process (the client's own opens would not hydrate): waits for the
// start byte, opens and reads the whole file, reports the seconds it took.
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
        std::size_t total = 0;
        for (ssize_t count; fd >= 0 && (count = ::read(fd, buffer, sizeof(buffer))) > 0;)
            total += static_cast<std::size_t>(count);
        const double seconds = total > 0 ? secondsSince(begin) : -1;
        ::_exit(::write(resultPipe[1], &seconds, sizeof(seconds)) == sizeof(seconds) ? 0 : 1);
    }
    ::close(startPipe[0]);
    ::close(resultPipe[1]);
    return {pid, startPipe[1], resultPipe[0]};
}

double finishOpener(const Opener& opener)
{
    double seconds = -1;
    if (::read(opener.result, &seconds, sizeof(seconds)) != sizeof(seconds) || seconds < 0)
        throw std::runtime_error("an opener did not get the content");
    ::close(opener.result);
    ::waitpid(opener.pid, nullptr, 0);
    return seconds;
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

std::vector<double> openOneAfterAnother(const std::vector<fs::path>& files)
{
    std::mt19937 random(13);
    std::uniform_int_distribution<int> pause(0, 250);
    std::vector<double> times;
    for (const auto& file : files) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        const auto opener = startOpener(file);
        release(opener);
        times.push_back(finishOpener(opener));
    }
    return times;
}

std::vector<double> openAllAtOnce(const std::vector<fs::path>& files)
{
    std::vector<Opener> openers;
    for (const auto& file : files)
        openers.push_back(startOpener(file));
    for (const auto& opener : openers)
        release(opener);
    std::vector<double> times;
    for (const auto& opener : openers)
        times.push_back(finishOpener(opener));
    return times;
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

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto index =
        static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

} // namespace TessarnBench
