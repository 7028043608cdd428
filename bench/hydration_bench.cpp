// Time from open to content for placeholders in a tessarn mount, with a scripted sync client
// that answers every request at once, against a plain copy of the same bytes.
//
//   tessarn_bench_hydration [placeholders per size, default 10]
#include "bench_mounts.h"
#include "openers.h"
#include "test_support.h"

#include <atomic>
#include <fmt/format.h>
#include <nlohmann/json.hpp>
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
            writeRecord(file, {"", "etag", "id", 0, States::Hydrated,
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
                writeFile(files.back());
                writeRecord(files.back(),
                            Tessarn::PlaceHolderAttributes::create("", "e", "id", size));
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
