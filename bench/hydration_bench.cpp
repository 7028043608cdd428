// What a tessarn mount adds to opens that wait for their hydration, with a scripted sync client
// that brings the content and answers "OK". First the time from that answer to open()
// returning, with 1, 30 and 1,000 opens waiting at once, and the daemon's peak memory and
// threads while they wait; then the time from open to the whole content of placeholders of
// three sizes, against a plain copy of the same bytes.
//
//   tessarn_bench_hydration [placeholders per size for open to content, default 10]
#include "bench_mounts.h"
#include "openers.h"
#include "process.h"
#include "result_table.h"
#include "statistics.h"
#include "test_support.h"

#include <cstring>
#include <fmt/format.h>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stop_token>
#include <tessarn/tessarn.h>
#include <thread>

namespace fs = std::filesystem;
using namespace TessarnBench;
using namespace TessarnTest;
using Tessarn::Constants::States;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t sizes[] = {4 * 1024, 1024 * 1024, 32 * 1024 * 1024};
constexpr int waitingCounts[] = {1, 30, 1000};

struct Request {
    fs::path file;
    int id = 0;
};

// The sync client's side of the socket: requests, and for each the content through the mount
// (its own opens are let through), a hydrated record, and "OK".
class ScriptedClient {
public:
    ScriptedClient(FakeSyncClient& socket, fs::path sources)
        : m_socket(socket), m_sources(std::move(sources))
    {
    }

    // Requests as they come, until there are count of them, none has come for quiet, or the
    // deadline has passed.
    std::vector<Request> collect(std::size_t count, std::chrono::milliseconds quiet,
                                 Clock::time_point deadline)
    {
        const std::string command = "V2/HYDRATE_FILE:";
        std::vector<Request> requests;
        while (requests.size() < count && Clock::now() < deadline) {
            const auto line = m_socket.readLine(quiet);
            if (!line)
                break;
            if (!line->starts_with(command))
                continue;
            const auto request = nlohmann::json::parse(line->substr(command.size()));
            requests.push_back({request.at("arguments").at("file").get<std::string>(),
                                std::stoi(request.at("id").get<std::string>())});
        }
        return requests;
    }

    // The monotonic seconds at which the answer went out, taken just before the send, so that
    // the open's extra time can only come out longer, never shorter, than it was.
    double answer(const Request& request)
    {
        const auto name = request.file.filename().string();
        copyBytes(m_sources / name.substr(0, name.find('-')), request.file);
        writeRecord(request.file, {"", "etag", "id", 0, States::Hydrated,
                                   Tessarn::Constants::PinStates::Inherited});
        const double sentAt = monotonicSeconds();
        m_socket.send(resultAnswer(request.id, R"({"status":"OK"})"));
        return sentAt;
    }

    // Answers every request as soon as it comes, until the thread is stopped.
    std::jthread answerAtOnce()
    {
        return std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                for (const auto& request : collect(1, 100ms, Clock::now() + 100ms))
                    answer(request);
            }
        });
    }

private:
    FakeSyncClient& m_socket;
    fs::path m_sources;
};

// Named after the size first, so the client knows which source to copy.
std::vector<fs::path> placeholders(const fs::path& folder, std::size_t size, std::string_view mode,
                                   int count)
{
    std::vector<fs::path> files;
    for (int i = 0; i < count; ++i) {
        files.push_back(folder / fmt::format("{}-{}-{}", size, mode, i));
        writeFile(files.back());
        writeRecord(files.back(), Tessarn::PlaceHolderAttributes::create("", "e", "id", size));
    }
    return files;
}

// The kernel's VmHWM is the peak since the process began; 5 in clear_refs starts it again
// from the present size, so that each row shows its own peak.
void restartPeak(pid_t daemon)
{
    std::ofstream(fmt::format("/proc/{}/clear_refs", daemon)) << "5";
}

// A field of the daemon's /proc status, memory in MiB; "gone" once the daemon has ended.
std::string sample(pid_t daemon, std::string_view field)
{
    const auto value = statusField(daemon, field);
    if (value.empty())
        return "gone";
    return value.ends_with(" kB") ? fmt::format("{:.1f} MiB", std::stod(value) / 1024) : value;
}

struct WaitingRow {
    std::size_t requests = 0;
    std::vector<double> extra;           // seconds from "OK" to open() returning
    std::map<std::string, int> failures; // by errno name
    std::size_t unanswered = 0;          // opened without the client's answer
    std::size_t neverReturned = 0;       // still waiting at the end of the row
    std::string peak, threads;           // the daemon's, while all of them wait
};

void tally(WaitingRow& row, const std::vector<OpenReturn>& reports,
           const std::vector<double>& answeredAt, std::size_t opens)
{
    row.neverReturned = opens - reports.size();
    for (const auto& report : reports) {
        const double answer = answeredAt[static_cast<std::size_t>(report.index)];
        if (report.error != 0)
            ++row.failures[::strerrorname_np(report.error)];
        else if (answer < 0 || report.returnedAt < answer)
            ++row.unanswered;
        else
            row.extra.push_back(report.returnedAt - answer);
    }
}

// All opens start together; the client takes every request before it answers any, so that the
// daemon's memory and threads are sampled with all of them waiting. Each phase is bounded, so a
// daemon that loses requests or answers costs a minute at most.
WaitingRow measureWaiting(ScriptedClient& client, const fs::path& folder, pid_t daemon, int count)
{
    const auto files = placeholders(folder, sizes[0], fmt::format("waiting{}", count), count);
    std::map<std::string, std::size_t> indexOf;
    for (std::size_t i = 0; i < files.size(); ++i)
        indexOf[files[i].filename().string()] = i;
    restartPeak(daemon);
    WaitingOpens opens(files, 120s);
    opens.release();
    WaitingRow row;
    const auto requests = client.collect(files.size(), 3s, Clock::now() + 60s);
    row.requests = requests.size();
    row.peak = sample(daemon, "VmHWM");
    row.threads = sample(daemon, "Threads");
    std::vector<double> answeredAt(files.size(), -1);
    for (const auto& request : requests) {
        const auto index = indexOf.find(request.file.filename().string());
        if (index != indexOf.end())
            answeredAt[index->second] = client.answer(request);
    }
    tally(row, opens.reports(Clock::now() + 30s), answeredAt, files.size());
    return row;
}

std::string milliseconds(const std::vector<double>& values, double fraction)
{
    return values.empty() ? "n/a" : cell(percentile(values, fraction) * 1000, 3);
}

std::string why(int count, const WaitingRow& row)
{
    std::string failures;
    for (const auto& [name, number] : row.failures)
        failures += fmt::format(" {} {}", name, number);
    return fmt::format("{} opens: {} requests seen, failed:{}; {} opened without an answer, "
                       "{} never returned\n",
                       count, row.requests, failures.empty() ? " none" : failures, row.unanswered,
                       row.neverReturned);
}

void reportWaitingOpens(ScriptedClient& client, const fs::path& folder, pid_t daemon)
{
    ResultTable table(
        "hydration-waiting",
        fmt::format("{} B placeholders opened all at once; ms from the client's "
                    "\"OK\" to open() returning",
                    sizes[0]),
        {"opens", "opened", "median (<2 ms)", "p99 (<20 ms)", "daemon VmHWM (<64 MiB)", "threads"});
    std::string notes;
    for (const int count : waitingCounts) {
        const auto row = measureWaiting(client, folder, daemon, count);
        table.addRow({std::to_string(count), std::to_string(row.extra.size()),
                      milliseconds(row.extra, 0.5), milliseconds(row.extra, 0.99), row.peak,
                      row.threads});
        if (row.extra.size() != static_cast<std::size_t>(count))
            notes += why(count, row);
    }
    table.report();
    fmt::print("{}\n", notes);
}

void reportOpenToContent(ScriptedClient& client, const fs::path& scratch, const fs::path& folder,
                         int count)
{
    const auto answering = client.answerAtOnce();
    ResultTable table(
        "hydration-content",
        fmt::format("{} placeholders per size and mode; seconds from open to the whole content",
                    count),
        {"size", "mode", "median", "p95", "copy median", "copy p95", "median/copy"});
    for (const auto size : sizes) {
        const auto copies =
            plainCopies(scratch / "sources" / std::to_string(size), scratch / "copy", count);
        for (const std::string_view mode : {"sequential", "concurrent"}) {
            const auto files = placeholders(folder, size, mode, count);
            const auto times =
                mode == "sequential" ? openOneAfterAnother(files) : openAllAtOnce(files).times;
            table.addRow({std::to_string(size), std::string(mode), cell(percentile(times, 0.5), 3),
                          cell(percentile(times, 0.95), 3), cell(percentile(copies, 0.5), 6),
                          cell(percentile(copies, 0.95), 6),
                          cell(percentile(times, 0.5) / percentile(copies, 0.5), 0)});
        }
    }
    table.report();
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
    std::this_thread::sleep_for(500ms); // a daemon that polls its socket sees the answer by then
    ScriptedClient client(socket, sources);

    // First, so that the large copies of the second table do not raise the daemon's peak.
    reportWaitingOpens(client, folder, mount.pid());
    reportOpenToContent(client, scratch.path(), folder, count);
    return 0;
}
