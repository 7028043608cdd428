// A code project as users keep one in their folder: a copy of /usr/include unpacked, walked,
// searched, committed to git and removed again, each step a program of its own. On a plain
// folder; on bindfs and libfuse's passthrough_hp example over a folder, each caching as it does
// by default (bindfs a second, passthrough_hp a day); and on tessarn over a folder with its
// default configuration. Prints the median seconds of each step and of all of them, and the
// ratios of tessarn to the plain folder and to passthrough_hp.
//
//   tessarn_bench_workloads [rounds, default 3]
#include "bench_mounts.h"
#include "result_table.h"
#include "statistics.h"
#include "test_support.h"
#include "timed_run.h"

#include <algorithm>
#include <fmt/format.h>
#include <functional>
#include <numeric>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace TessarnBench;
using namespace TessarnTest;

namespace {

// Each step runs in the target's folder ($1) on what the steps before it left there; $2 is the
// tarball. tar leaves the times as unpacked (-m): passthrough_hp, as the peers are built, cannot
// set the times of a file it has not opened (EOPNOTSUPP), and every target does the same work.
// The commit's author is fixed, so that git asks nothing of the machine.
struct Step {
    const char* name;
    const char* script;
};
constexpr Step steps[] = {
    {"untar", R"(tar -xmf "$2")"},
    {"find", "find include"},
    {"du -s", "du -s include"},
    {"grep -r", "grep -rF EXIT_SUCCESS include"},
    {"git add + commit", "cd include && git init -q && git add -A && "
                         "git -c user.name=Tessarn -c user.email=bench@tessarn.invalid "
                         "commit -q -m 'The tree as unpacked'"},
    {"git status", "git -C include status"},
    {"rm -rf", "rm -rf include"},
};
constexpr std::size_t stepCount = std::size(steps);

// Nobody's own git settings (a signing key, hooks, a file-system monitor) and no locale's
// character classes: every target runs the same work.
const std::vector<std::string> stepEnvironment = {"LC_ALL=C", "GIT_CONFIG_NOSYSTEM=1",
                                                  "GIT_CONFIG_GLOBAL=/dev/null"};

// Where one round runs on one target: the folder the steps see, and the mount that shows it
// (none for the plain folder), unmounted when the round is over.
struct Place {
    fs::path folder;
    std::optional<Mount> mount;
};

struct Target {
    std::string name;
    // Makes the target's folders under base and mounts them; nothing when the target is missing.
    std::function<std::optional<Place>(const fs::path& base)> prepare;
};

// A peer shows a source folder of its own at another.
Place peerPlace(const fs::path& base,
                const std::function<Mount(const fs::path&, const fs::path&)>& mountPeer)
{
    fs::create_directories(base / "source");
    fs::create_directories(base / "mounted");
    return {base / "mounted", mountPeer(base / "source", base / "mounted")};
}

std::vector<Target> targets(const fs::path& scratch)
{
    const auto passthroughHp = peerBinary("passthrough_hp");
    const auto socket = (scratch / "no-client").string();
    return {
        {"plain",
         [](const fs::path& base) {
             fs::create_directories(base);
             return std::optional<Place>(Place{base, std::nullopt});
         }},
        {"bindfs",
         [](const fs::path& base) {
             return std::optional<Place>(peerPlace(base, [](const auto& source, const auto& at) {
                 return Mount::bindfs(source, at, KernelCache::programDefaults);
             }));
         }},
        {"passthrough_hp",
         [passthroughHp](const fs::path& base) -> std::optional<Place> {
             if (!passthroughHp)
                 return std::nullopt;
             return peerPlace(base, [&](const auto& source, const auto& at) {
                 return Mount::passthroughHp(*passthroughHp, source, at);
             });
         }},
        {"tessarn",
         [socket](const fs::path& base) {
             fs::create_directories(base / "Sync");
             return std::optional<Place>(
                 Place{base / "Sync", Mount::tessarn(base / "Sync", socket)});
         }},
    };
}

// Every round starts from the disk, not from pages an earlier target or round left in memory.
void dropPageCache()
{
    ::sync();
    writeFile("/proc/sys/vm/drop_caches", "3");
}

// The seconds of each step on a fresh folder or mount; not a number from the first step that
// failed on, as the steps after it work on what it should have left.
std::vector<double> runRound(const Target& target, const fs::path& base, const fs::path& tarball)
{
    std::vector<double> seconds(stepCount, notMeasured);
    {
        const auto place = target.prepare(base);
        dropPageCache();
        for (std::size_t i = 0; place && i < stepCount; ++i) {
            const auto run = runTimed({"sh", "-c", std::string("cd \"$1\" && ") + steps[i].script,
                                       "sh", place->folder.string(), tarball.string()},
                                      std::chrono::minutes(30), stepEnvironment);
            if (run.status != 0) {
                fmt::print(stderr, "{} failed on {}: {}\n", steps[i].name, target.name,
                           run.err.substr(0, 500));
                break;
            }
            seconds[i] = run.seconds;
        }
    }
    fs::remove_all(base);
    return seconds;
}

// samples[step][target] holds a time for each round; the last step row is their total.
using Samples = std::vector<std::vector<std::vector<double>>>;

Samples measure(const std::vector<Target>& targets, const fs::path& scratch,
                const fs::path& tarball, int rounds)
{
    Samples samples(stepCount + 1, std::vector<std::vector<double>>(targets.size()));
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t t = 0; t < targets.size(); ++t) {
            const auto seconds = runRound(targets[t], scratch / targets[t].name, tarball);
            for (std::size_t i = 0; i < stepCount; ++i)
                samples[i][t].push_back(seconds[i]);
            samples[stepCount][t].push_back(std::accumulate(seconds.begin(), seconds.end(), 0.0));
        }
    }
    return samples;
}

fs::path makeTarball(const fs::path& scratch)
{
    const auto tarball = scratch / "include.tar";
    const auto made = runTimed({"tar", "-cf", tarball.string(), "-C", "/usr", "include"},
                               std::chrono::minutes(10));
    if (made.status != 0)
        throw std::runtime_error("cannot pack /usr/include: " + made.err);
    return tarball;
}

std::size_t indexOf(const std::vector<Target>& targets, std::string_view name)
{
    const auto found = std::find_if(targets.begin(), targets.end(),
                                    [&](const Target& target) { return target.name == name; });
    return static_cast<std::size_t>(found - targets.begin());
}

ResultTable resultTable(const std::vector<Target>& targets, const Samples& samples, int rounds)
{
    std::vector<std::string> columns = {"workload"};
    for (const auto& target : targets)
        columns.push_back(target.name);
    columns.insert(columns.end(), {"tessarn/plain", "tessarn/passthrough_hp"});
    ResultTable table("workloads",
                      fmt::format("/usr/include unpacked and used; median seconds of {} rounds, "
                                  "each on a fresh folder or mount; n/a: cannot run there",
                                  rounds),
                      columns);
    for (std::size_t i = 0; i <= stepCount; ++i) {
        std::vector<std::string> cells = {i < stepCount ? steps[i].name : "total"};
        std::vector<double> medians;
        for (const auto& sample : samples[i])
            medians.push_back(median(sample));
        for (const double value : medians)
            cells.push_back(cell(value, 3));
        const auto of = [&](std::string_view name) { return medians[indexOf(targets, name)]; };
        cells.push_back(cell(of("tessarn") / of("plain"), 2));
        cells.push_back(cell(of("tessarn") / of("passthrough_hp"), 2));
        table.addRow(cells);
    }
    return table;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 3;
    const TempDir scratch;
    const auto tarball = makeTarball(scratch.path());
    const auto all = targets(scratch.path());
    resultTable(all, measure(all, scratch.path(), tarball, rounds), rounds).report();
    return 0;
}
