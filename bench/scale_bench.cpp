// A folder of many files, walked with find and ls -lR on the plain folder and through a tessarn
// mount over it; prints the times, the daemon's peak of open descriptors against its limit, and
// what its memory grew by for each object the kernel came to know.
//
//   tessarn_bench_scale [files, default 100000]
#include "bench_mounts.h"
#include "result_table.h"
#include "test_support.h"
#include "timed_run.h"

#include <atomic>
#include <fcntl.h>
#include <fmt/format.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace TessarnBench;
using namespace TessarnTest;

namespace {

constexpr int filesPerFolder = 1000;

int folderCount(int files)
{
    return (files + filesPerFolder - 1) / filesPerFolder;
}

void populate(const fs::path& root, int files)
{
    for (int i = 0; i < files; ++i) {
        const auto folder = root / ("d" + std::to_string(i / filesPerFolder));
        if (i % filesPerFolder == 0)
            fs::create_directory(folder);
        const int fd = ::open((folder / ("f" + std::to_string(i))).c_str(),
                              O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0)
            throw std::runtime_error("cannot create the files");
        ::close(fd);
    }
}

double timed(const std::string& command)
{
    const auto run = runTimed({"sh", "-c", command + " > /dev/null"}, std::chrono::hours(2));
    if (run.status != 0)
        throw std::runtime_error(command + " failed: " + run.err.substr(0, 500));
    return run.seconds;
}

long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    }
    return 0;
}

// The most descriptors the process held at any sample while it lives.
class DescriptorPeak {
public:
    explicit DescriptorPeak(pid_t pid)
        : m_sampler([this, pid] {
              while (!m_done) {
                  m_peak = std::max(m_peak.load(), descriptorsOf(pid).size());
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          })
    {
    }
    ~DescriptorPeak()
    {
        m_done = true;
        m_sampler.join();
    }
    std::size_t peak() const { return m_peak; }

private:
    std::atomic<bool> m_done{false};
    std::atomic<std::size_t> m_peak{0};
    std::thread m_sampler;
};

struct Walks {
    double find = 0;
    double list = 0;
};

Walks walk(const fs::path& root)
{
    return {timed("find " + root.string()), timed("ls -lR " + root.string())};
}

rlim_t descriptorLimit()
{
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_max;
}

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::stoi(argv[1]) : 100000;
    const TempDir scratch;
    const auto root = scratch.path() / "folder";
    fs::create_directory(root);
    populate(root, files);
    const long objects = files + folderCount(files);

    const Walks plain = walk(root);
    writeFile("/proc/sys/vm/drop_caches", "3");
    auto mount = Mount::tessarn(root, (scratch.path() / "no-client").string());
    const long before = residentKiB(mount.pid());
    Walks mounted;
    std::size_t peak = 0;
    {
        const DescriptorPeak descriptors(mount.pid());
        mounted = walk(root);
        peak = descriptors.peak();
    }
    const long after = residentKiB(mount.pid());

    ResultTable table(
        "scale",
        fmt::format("{} files in {} folders; seconds to walk them", files, folderCount(files)),
        {"walk", "plain", "tessarn", "tessarn/plain"});
    table.addRow(
        {"find", cell(plain.find, 3), cell(mounted.find, 3), cell(mounted.find / plain.find, 1)});
    table.addRow(
        {"ls -lR", cell(plain.list, 3), cell(mounted.list, 3), cell(mounted.list / plain.list, 1)});
    table.report();
    fmt::print("daemon: at most {} descriptors open of a limit of {}; memory {:.1f} MiB before "
               "the walks, {:.1f} MiB after: {:.0f} bytes for each of the {} objects walked\n",
               peak, descriptorLimit(), before / 1024.0, after / 1024.0,
               (after - before) * 1024.0 / static_cast<double>(objects), objects);
}
