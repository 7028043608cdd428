// Time from open to content for placeholders in a tessarn mount, with a scripted sync client
// that answers every request at once, against a plain copy of the same bytes.
//
//   tessarn_bench_hydration [placeholders per size, default 10]
#include "bench_mounts.h"
#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <random>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <tessarn.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace TessarnBench;
using namespace TessarnTest;
using Tessarn::Constants::States;

namespace {

constexpr std::size_t sizes[] = {4 * 1024, 1024 * 1024, 32 * 1024 * 1024};

// Named after the size first, so the client knows which source to copy.
std::string placeholderName(std::size_t size, const char* mode, int index)
{
    return fmt::format("{}-{}-{}", size, mode, index);
}

void setRecord(const fs::path& file, const Tessarn::PlaceHolderAttributes& record)
{
    const auto bytes = record.toData();
    if (::lsetxattr(file.c_str(), "user.tessarn.data", bytes.data(), bytes.size(), 0) != 0)
        throw std::runtime_error("cannot write the record of " + file.string());
}

// Reads in and writes out in 1 MiB pieces, as a download into the mount would.
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

// The sync client: for each request, the content through the mount (its own opens are let
// through), a hydrated record, and "OK" at once.
class ScriptedClient {
public:
    ScriptedClient(FakeSyncClient& socket, fs::path sources)
        : m_socket(socket), m_sources(std::move(sources)),
          m_thread([this] { serve(); })
    {
    }
    ~ScriptedClient()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    void serve()
    {
        const std::string command = "V2/HYDRATE_FILE:";
        while (!m_stop) {
            const auto line = m_socket.readLine(100ms);
            if (!line || !line->starts_with(command))
                continue;
            const auto request = nlohmann::json::parse(line->substr(command.size()));
            const fs::path file = request.at("arguments").at("file").get<std::string>();
            const auto name = file.filename().string();
            copyBytes(m_sources / name.substr(0, name.find('-')), file);
            setRecord(file, {"", "etag", "id", 0, States::Hydrated,
                             Tessarn::Constants::PinStates::Inherited});
            m_socket.send(resultAnswer(std::stoi(request.at("id").get<std::string>()),
                                       R"({"status":"OK"})"));
        }
    }

    FakeSyncClient& m_socket;
    fs::path m_sources;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

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

// A random pause before each open, so that the opens do not all meet the socket worker's
// 250 ms ticks at the same phase.
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
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[index];
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::stoi(argv[1]) : 10;
    const TempDir scratch;
    const auto sources = scratch.path() / "sources";
    const auto folder = scratch.path() / "Sync";
    fs::create_directory(sources);
    fs::create_directory(folder);
    for (const auto size : sizes)
        writeFile(sources / std::to_string(size), std::string(size, 'c'));

    const auto socketPath = (scratch.path() / "socket").string();
    FakeSyncClient socket(socketPath);
    const auto mount = Mount::tessarn(folder, socketPath);
    if (!socket.accept() || !socket.readLine())
        throw std::runtime_error("the daemon did not connect");
    socket.answerVersion();
    std::this_thread::sleep_for(500ms); // the worker reads the answer at its next tick
    const ScriptedClient client(socket, sources);

    fmt::print("{} placeholders per size and mode; seconds from open to the whole content\n",
               count);
    fmt::print("{:>9} {:<10} {:>8} {:>8} {:>11} {:>11} {:>9}\n", "size", "mode", "median",
               "p95", "copy median", "copy p95", "median/copy");
    for (const auto size : sizes) {
        const auto copies = plainCopies(sources / std::to_string(size), scratch.path() / "copy",
                                        count);
        for (const auto* mode : {"sequential", "concurrent"}) {
            std::vector<fs::path> files;
            for (int i = 0; i < count; ++i) {
                files.push_back(folder / placeholderName(size, mode, i));
                writeFile(files.back(), "");
                setRecord(files.back(), Tessarn::PlaceHolderAttributes::create("", "e", "id", size));
            }
            const auto times = std::string_view(mode) == "sequential" ? openOneAfterAnother(files)
                                                                      : openAllAtOnce(files);
            fmt::print("{:>9} {:<10} {:>8.3f} {:>8.3f} {:>11.4f} {:>11.4f} {:>9.0f}\n", size, mode,
                       percentile(times, 0.5), percentile(times, 0.95), percentile(copies, 0.5),
                       percentile(copies, 0.95), percentile(times, 0.5) / percentile(copies, 0.5));
        }
    }
    return 0;
}
