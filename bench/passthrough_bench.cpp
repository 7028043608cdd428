// The same workloads on a plain folder; on bindfs and libfuse's passthrough_ll example over a
// folder, both with zero kernel timeouts; on libfuse's passthrough_hp example over a folder in its
// caching mode; and on tessarn over a folder with its default configuration. Prints throughputs
// and the ratios of tessarn to each.
//
//   tessarn_bench_passthrough [file MiB, default 1024] [small files, default 10000] [runs, 3]
#include "bench_mounts.h"
#include "result_table.h"
#include "statistics.h"
#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fmt/format.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace TessarnBench;

namespace {

struct Sizes {
    long fileMiB = 1024;
    int smallFiles = 10000;
    int runs = 3;
};

constexpr std::size_t chunk = 1 << 20;

double sequentialWrite(const fs::path& dir, const Sizes& sizes)
{
    std::vector<char> buffer(chunk, 'x');
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open((dir / "big").c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    for (long i = 0; i < sizes.fileMiB; ++i) {
        if (::write(fd, buffer.data(), chunk) != static_cast<ssize_t>(chunk))
            throw std::runtime_error("short write");
    }
    ::close(fd);
    return sizes.fileMiB / secondsSince(start);
}

double sequentialRead(const fs::path& dir, const Sizes& sizes)
{
    std::vector<char> buffer(chunk);
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open((dir / "big").c_str(), O_RDONLY);
    long total = 0;
    for (ssize_t count; (count = ::read(fd, buffer.data(), chunk)) > 0;)
        total += count;
    ::close(fd);
    const double rate = sizes.fileMiB / secondsSince(start);
    // Every timed write then starts without a file, not with the truncation of the last one.
    ::unlink((dir / "big").c_str());
    if (total != sizes.fileMiB * static_cast<long>(chunk))
        throw std::runtime_error("short read");
    return rate;
}

std::string smallName(const fs::path& dir, int i)
{
    return (dir / ("small" + std::to_string(i))).string();
}

double createFiles(const fs::path& dir, const Sizes& sizes)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < sizes.smallFiles; ++i) {
        const int fd = ::open(smallName(dir, i).c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
        if (fd < 0 || ::write(fd, "small file content\n", 19) != 19)
            throw std::runtime_error("create failed");
        ::close(fd);
    }
    return sizes.smallFiles / secondsSince(start) / 1000;
}

double statFiles(const fs::path& dir, const Sizes& sizes)
{
    const auto start = std::chrono::steady_clock::now();
    struct stat st {};
    for (int i = 0; i < sizes.smallFiles; ++i) {
        if (::stat(smallName(dir, i).c_str(), &st) != 0)
            throw std::runtime_error("stat failed");
    }
    return sizes.smallFiles / secondsSince(start) / 1000;
}

double unlinkFiles(const fs::path& dir, const Sizes& sizes)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < sizes.smallFiles; ++i) {
        if (::unlink(smallName(dir, i).c_str()) != 0)
            throw std::runtime_error("unlink failed");
    }
    return sizes.smallFiles / secondsSince(start) / 1000;
}

// 100 directories of entries, made before mounting.
void buildTree(const fs::path& dir, const Sizes& sizes)
{
    const int perDirectory = std::max(1, sizes.smallFiles / 100);
    for (int d = 0; d < 100; ++d) {
        const auto sub = dir / "tree" / std::to_string(d);
        fs::create_directories(sub);
        for (int f = 0; f + 1 < perDirectory; ++f)
            ::close(::open((sub / std::to_string(f)).c_str(), O_CREAT | O_WRONLY, 0644));
    }
}

double listTree(const fs::path& dir, const Sizes&)
{
    const auto start = std::chrono::steady_clock::now();
    long entries = 0;
    struct stat st {};
    for (const auto& entry : fs::recursive_directory_iterator(dir / "tree")) {
        ::lstat(entry.path().c_str(), &st);
        ++entries;
    }
    return entries / secondsSince(start) / 1000;
}

using Workload = double (*)(const fs::path&, const Sizes&);

double runOnce(Workload workload, const fs::path& dir, const Sizes& sizes)
{
    if (dir.empty())
        return notMeasured;
    try {
        return workload(dir, sizes);
    } catch (const std::exception&) {
        return notMeasured;
    }
}

// Each workload's medians over the runs, for each target. Writes come before reads and
// creation before stat and removal, so every run finds what it needs.
std::vector<std::vector<double>> measure(const std::vector<fs::path>& dirs, const Sizes& sizes,
                                         const std::vector<Workload>& workloads)
{
    std::vector<std::vector<std::vector<double>>> samples(
        workloads.size(), std::vector<std::vector<double>>(dirs.size()));
    for (int run = 0; run < sizes.runs; ++run) {
        for (std::size_t target = 0; target < dirs.size(); ++target) {
            for (std::size_t w = 0; w < workloads.size(); ++w) {
                // Write-back of an earlier workload must not slow down the next one.
                ::sync();
                samples[w][target].push_back(runOnce(workloads[w], dirs[target], sizes));
            }
        }
    }
    std::vector<std::vector<double>> medians(workloads.size());
    for (std::size_t w = 0; w < workloads.size(); ++w) {
        for (const auto& sample : samples[w])
            medians[w].push_back(median(sample));
    }
    return medians;
}

// Empty when the example was not built: then its column says n/a.
std::optional<Mount> mountPassthroughLl(const fs::path& source, const fs::path& mountPoint)
{
    const std::string binary = PASSTHROUGH_LL_BINARY;
    if (binary.empty() || !fs::exists(binary)) {
        fmt::print("passthrough_ll not built: libfuse's example source "
                   "(/usr/share/doc/libfuse3-dev/examples/passthrough_ll.c) was missing\n");
        return std::nullopt;
    }
    return Mount::passthroughLl(binary, source, mountPoint);
}

std::optional<Mount> mountPassthroughHp(const fs::path& source, const fs::path& mountPoint)
{
    const auto binary = peerBinary("passthrough_hp");
    if (!binary)
        return std::nullopt;
    return Mount::passthroughHp(*binary, source, mountPoint);
}

using Row = std::pair<const char*, Workload>;

// The targets in the order of the columns; tessarn, the last, is compared with each of the others.
const std::vector<std::string> targets = {"plain", "bindfs", "passthrough_ll", "passthrough_hp",
                                          "tessarn"};

ResultTable resultTable(const std::vector<Row>& rows,
                        const std::vector<std::vector<double>>& results, const Sizes& sizes)
{
    std::vector<std::string> columns = {"workload"};
    columns.insert(columns.end(), targets.begin(), targets.end());
    for (std::size_t other = 0; other + 1 < targets.size(); ++other)
        columns.push_back("tessarn/" + targets[other]);
    ResultTable table("passthrough",
                      fmt::format("{} MiB file, {} small files, median of {} runs; n/a: cannot "
                                  "run there",
                                  sizes.fileMiB, sizes.smallFiles, sizes.runs),
                      columns);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& r = results[i];
        std::vector<std::string> cells = {rows[i].first};
        for (const double value : r)
            cells.push_back(cell(value, 1));
        for (std::size_t other = 0; other + 1 < r.size(); ++other)
            cells.push_back(cell(r.back() / r[other], 2));
        table.addRow(cells);
    }
    return table;
}

} // namespace

int main(int argc, char** argv)
{
    Sizes sizes;
    if (argc > 1)
        sizes.fileMiB = std::stol(argv[1]);
    if (argc > 2)
        sizes.smallFiles = std::stoi(argv[2]);
    if (argc > 3)
        sizes.runs = std::stoi(argv[3]);

    const TessarnTest::TempDir scratch;
    const auto& root = scratch.path();
    // Each peer shows a source folder of its own; tessarn is mounted over its folder itself.
    std::vector<fs::path> dirs = {root / "plain", root / "bindfs", root / "passthrough_ll",
                                  root / "passthrough_hp", root / "Sync"};
    const auto source = [&](std::size_t peer) { return root / (targets[peer] + "-source"); };
    for (const auto& dir : dirs)
        fs::create_directory(dir);
    for (std::size_t peer = 1; peer + 1 < targets.size(); ++peer) {
        fs::create_directory(source(peer));
        buildTree(source(peer), sizes);
    }
    buildTree(dirs.front(), sizes);
    buildTree(dirs.back(), sizes);

    const auto bindfs = Mount::bindfs(source(1), dirs[1], KernelCache::off);
    const auto passthroughLl = mountPassthroughLl(source(2), dirs[2]);
    const auto passthroughHp = mountPassthroughHp(source(3), dirs[3]);
    if (!passthroughLl)
        dirs[2].clear();
    if (!passthroughHp)
        dirs[3].clear();
    const auto tessarn = Mount::tessarn(dirs[4], (root / "no-client").string());

    const std::vector<Row> rows = {
        {"seq write MiB/s", sequentialWrite}, {"seq read MiB/s", sequentialRead},
        {"create k/s", createFiles},          {"stat k/s", statFiles},
        {"unlink k/s", unlinkFiles},          {"list+stat k/s", listTree},
    };
    std::vector<Workload> workloads;
    for (const auto& row : rows)
        workloads.push_back(row.second);
    const auto results = measure(dirs, sizes, workloads);

    resultTable(rows, results, sizes).report();
    return 0;
}
