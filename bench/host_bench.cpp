// Time from open to content with synchost as the sync client: the real plug-in runs a
// hydration job for each request and the real daemon waits for synchost's answer. Against cp
// of the same bytes into the same mount, measured in the same run: both write through FUSE,
// so the ratio shows what hydration adds to the copy itself.
//
//   tessarn_bench_host [placeholders per size and mode, default 30]
#include "bench_mounts.h"
#include "openers.h"
#include "process.h"
#include "result_table.h"
#include "statistics.h"
#include "synchost_serving.h"
#include "test_support.h"

#include <fmt/format.h>
#include <numeric>

namespace fs = std::filesystem;
using namespace TessarnBench;
using namespace TessarnTest;

namespace {

constexpr std::size_t sizes[] = {1024, 1024 * 1024, 100 * 1024 * 1024};
constexpr double aloneGoal = 2; // for 100 MiB, open to content against cp
constexpr double atOnceGoal = 1.5;
constexpr const char* modes[] = {"sequential", "concurrent"};

std::string sizeName(std::size_t size)
{
    return size >= 1024 * 1024 ? fmt::format("{} MiB", size >> 20)
                               : fmt::format("{} KiB", size >> 10);
}

fs::path remoteFile(const fs::path& root, std::size_t size, const char* mode, int index)
{
    return root / std::to_string(size) / mode / std::to_string(index);
}

struct InTurn {
    std::vector<double> copies;
    std::vector<double> opens;
};

// Each cp right before one hydration, so that both meet the same state of the disk's
// write-back: copies removed at once would never be written out and would make cp look
// faster than any download that stays. They go when the size is done.
InTurn cpAndOpenInTurn(const fs::path& source, const fs::path& copies,
                       const std::vector<fs::path>& placeholders)
{
    fs::create_directories(copies);
    InTurn times;
    for (std::size_t i = 0; i < placeholders.size(); ++i) {
        times.copies.push_back(cpCopy(source, copies / std::to_string(i)));
        times.opens.push_back(openAndRead(placeholders[i]));
    }
    fs::remove_all(copies);
    return times;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::stoi(argv[1]) : 30;
    const TempDir scratch;
    const auto sources = scratch.path() / "sources";
    const auto remote = scratch.path() / "remote";
    const auto folder = scratch.path() / "Sync";
    fs::create_directories(sources);
    for (const auto size : sizes) {
        writeFile(sources / std::to_string(size), std::string(size, 'c'));
        for (const auto* mode : modes) {
            for (int i = 0; i < count; ++i) {
                fs::create_directories(remoteFile(remote, size, mode, i).parent_path());
                fs::create_hard_link(sources / std::to_string(size),
                                     remoteFile(remote, size, mode, i));
            }
        }
    }
    const SynchostServing served(scratch.path(), remote, folder);

    ResultTable table(
        "host",
        fmt::format("synchost, no simulated network: seconds from open to the whole content, {0} "
                    "placeholders per size alone, each after a cp of the same bytes into the "
                    "mount, and {0} at once",
                    count),
        {"size", "cp median", "alone med", "alone p95", "alone/cp", "alone sum", "at once",
         "once/sum"});
    for (const auto size : sizes) {
        const auto placeholders = [&](const char* mode) {
            std::vector<fs::path> files;
            for (int i = 0; i < count; ++i)
                files.push_back(remoteFile(folder, size, mode, i));
            return files;
        };
        const auto [copies, alone] = cpAndOpenInTurn(sources / std::to_string(size),
                                                     folder / "cp-copies", placeholders(modes[0]));
        const auto atOnce = openAllAtOnce(placeholders(modes[1]));
        const double aloneSum = std::accumulate(alone.begin(), alone.end(), 0.0);
        table.addRow({sizeName(size), cell(percentile(copies, 0.5), 4),
                      cell(percentile(alone, 0.5), 4), cell(percentile(alone, 0.95), 4),
                      cell(percentile(alone, 0.5) / percentile(copies, 0.5), 2), cell(aloneSum, 3),
                      cell(atOnce.wall, 3), cell(atOnce.wall / aloneSum, 2)});
    }
    table.report();
    fmt::print("alone/cp: medians, goal within {}x for 100 MiB; once/sum: wall time of the {} at "
               "once over the sum of the {} alone, goal within {}x\n",
               aloneGoal, count, count, atOnceGoal);
    return 0;
}
