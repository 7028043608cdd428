// The same workloads on a plain folder, on bindfs over a folder and on tessarn over a folder;
// prints throughputs and the ratios tessarn/plain and tessarn/bindfs.
//
//   tessarn_bench_passthrough [file MiB, default 1024] [small files, default 10000] [runs, 3]
#include "bench_mounts.h"
#include "test_support.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fcntl.h>
#include <fmt/format.h>
#include <functional>
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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Targets {
    fs::path plain;
    fs::path bindfs;
    fs::path tessarn;
};

// Each workload's medians over the runs, for the three targets. Writes come before reads and
// creation before stat and removal, so every run finds what it needs.
std::vector<std::array<double, 3>> measure(const Targets& targets, const Sizes& sizes,
                                           const std::vector<Workload>& workloads)
{
    std::vector<std::array<std::vector<double>, 3>> samples(workloads.size());
    const fs::path dirs[3] = {targets.plain, targets.bindfs, targets.tessarn};
    for (int run = 0; run < sizes.runs; ++run) {
        for (int target = 0; target < 3; ++target) {
            for (std::size_t w = 0; w < workloads.size(); ++w) {
                // Write-back of an earlier workload must not slow down the next one.
                ::sync();
                samples[w][target].push_back(workloads[w](dirs[target], sizes));
            }
        }
    }
    std::vector<std::array<double, 3>> medians;
    for (const auto& sample : samples)
        medians.push_back({median(sample[0]), median(sample[1]), median(sample[2])});
    return medians;
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
    const Targets targets{scratch.path() / "plain", scratch.path() / "bindfs",
                          scratch.path() / "Sync"};
    const auto bindfsSource = scratch.path() / "bindfs-source";
    for (const auto& dir : {targets.plain, targets.bindfs, targets.tessarn, bindfsSource})
        fs::create_directory(dir);
    buildTree(targets.plain, sizes);
    buildTree(bindfsSource, sizes);
    buildTree(targets.tessarn, sizes);

    const auto bindfs = Mount::bindfs(bindfsSource, targets.bindfs);
    const auto tessarn = Mount::tessarn(targets.tessarn, (scratch.path() / "no-client").string());

    const std::vector<std::pair<const char*, Workload>> rows = {
        {"seq write MiB/s", sequentialWrite}, {"seq read MiB/s", sequentialRead},
        {"create k/s", createFiles},          {"stat k/s", statFiles},
        {"unlink k/s", unlinkFiles},          {"list+stat k/s", listTree},
    };
    std::vector<Workload> workloads;
    for (const auto& row : rows)
        workloads.push_back(row.second);
    const auto results = measure(targets, sizes, workloads);

    fmt::print("{} MiB file, {} small files, median of {} runs\n", sizes.fileMiB,
               sizes.smallFiles, sizes.runs);
    fmt::print("{:<16} {:>10} {:>10} {:>10} {:>14} {:>15}\n", "workload", "plain", "bindfs",
               "tessarn", "tessarn/plain", "tessarn/bindfs");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& [plain, bind, tess] = results[i];
        fmt::print("{:<16} {:>10.1f} {:>10.1f} {:>10.1f} {:>14.2f} {:>15.2f}\n", rows[i].first,
                   plain, bind, tess, tess / plain, tess / bind);
    }
    return 0;
}
