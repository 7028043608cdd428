// What streaming gives an application that opens a large placeholder over a slow link: synchost
// downloads at a set bandwidth, and one reader per file reads it whole in 1 MiB pieces. The
// seconds from open to the first bytes and to the whole content, with the daemon's default
// "streamFrom" against "streamFrom" 0 (every open waits for the whole download), in one run.
//
//   tessarn_bench_streaming [KiB per second, default 10240] [rounds, default 1]
#include "openers.h"
#include "result_table.h"
#include "statistics.h"
#include "synchost_serving.h"
#include "test_support.h"

#include <fmt/format.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace TessarnBench;
using namespace TessarnTest;

namespace {

constexpr std::size_t sizes[] = {8u << 20, 64u << 20, 256u << 20};

struct Timings {
    std::vector<double> firstBytes;
    std::vector<double> whole;
};

// Every size's placeholders read one after another under synchost at that bandwidth, the
// daemon configured by config (none: its defaults).
std::vector<Timings> readWhileDownloading(const fs::path& scratch, const fs::path& sources,
                                          const std::string& bandwidth, int rounds,
                                          const std::string& config)
{
    const auto remote = scratch / "remote";
    for (const auto size : sizes) {
        for (int round = 0; round < rounds; ++round) {
            fs::create_directories(remote / std::to_string(size));
            fs::create_hard_link(sources / std::to_string(size),
                                 remote / std::to_string(size) / std::to_string(round));
        }
    }
    if (!config.empty()) {
        fs::create_directories(scratch / "config" / "tessarn");
        writeFile(scratch / "config" / "tessarn" / "config.json", config);
    }
    const auto folder = scratch / "Sync";
    const SynchostServing served(scratch, remote, folder, {"--bandwidth", bandwidth});
    std::vector<Timings> timings;
    for (const auto size : sizes) {
        auto& times = timings.emplace_back();
        for (int round = 0; round < rounds; ++round) {
            const auto reading =
                openAndReadTimed(folder / std::to_string(size) / std::to_string(round));
            times.firstBytes.push_back(reading.firstBytes);
            times.whole.push_back(reading.whole);
        }
    }
    return timings;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string bandwidth = argc > 1 ? argv[1] : "10240";
    const int rounds = argc > 2 ? std::stoi(argv[2]) : 1;
    const TempDir scratch;
    const auto sources = scratch.path() / "sources";
    fs::create_directories(sources);
    for (const auto size : sizes)
        writeFile(sources / std::to_string(size), std::string(size, 's'));

    const auto streaming =
        readWhileDownloading(scratch.path() / "streaming", sources, bandwidth, rounds, "");
    const auto waiting =
        readWhileDownloading(scratch.path() / "waiting", sources, bandwidth, rounds,
                             R"({"ignoreApps": {"byName": [], "endsWith": []}, "streamFrom": 0})");

    ResultTable table(
        "streaming",
        fmt::format(
            "synchost at {} KiB/s: median seconds from open to the first bytes and to the "
            "whole content over {} round(s), streaming (the default) against \"streamFrom\" "
            "0",
            bandwidth, rounds),
        {"size", "first bytes", "whole", "first, off", "whole, off", "first/off", "whole/off"});
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const double first = percentile(streaming[i].firstBytes, 0.5);
        const double whole = percentile(streaming[i].whole, 0.5);
        const double firstOff = percentile(waiting[i].firstBytes, 0.5);
        const double wholeOff = percentile(waiting[i].whole, 0.5);
        table.addRow({fmt::format("{} MiB", sizes[i] >> 20), cell(first, 3), cell(whole, 3),
                      cell(firstOff, 3), cell(wholeOff, 3), cell(first / firstOff, 3),
                      cell(whole / wholeOff, 2)});
    }
    table.report();
    fmt::print("goals: the first bytes of 256 MiB at 10240 KiB/s within 0.5 s, the whole no "
               "later than without streaming (whole/off at most 1)\n");
    return 0;
}
