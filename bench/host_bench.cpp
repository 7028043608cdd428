// Time from open to content with synchost as the sync client: the real plug-in runs a
// hydration job for each request and the real daemon waits for synchost's answer. Against a
// plain copy of the same bytes, measured in the same run.
//
//   tessarn_bench_host [placeholders per size and mode, default 30]
#include "bench_mounts.h"
#include "openers.h"
#include "process.h"
#include "test_support.h"

#include <csignal>
#include <fmt/format.h>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace TessarnBench;
using namespace TessarnTest;

namespace {

constexpr std::size_t sizes[] = {1024, 1024 * 1024, 100 * 1024 * 1024};
constexpr const char* modes[] = {"sequential", "concurrent"};

fs::path remoteFile(const fs::path& root, std::size_t size, const char* mode, int index)
{
    return root / std::to_string(size) / mode / std::to_string(index);
}

// synchost serving remote in folder; stopped with SIGTERM whatever happens, so that no mount
// and no daemon are left behind.
class ServedFolder {
public:
    ServedFolder(const fs::path& scratch, const fs::path& remote, const fs::path& folder)
        : m_folder(folder), m_output(scratch / "synchost.out"),
          m_host({SYNCHOST_BINARY, "--state", (scratch / "state").string(), "--socket",
                  (scratch / "api.socket").string(), "--log", (scratch / "synchost.log").string(),
                  remote.string(), folder.string()},
                 m_output, scratch / "synchost.err",
                 {"XDG_CONFIG_HOME=" + (scratch / "no-config").string()})
    {
        const auto serving = [this] {
            return readFile(m_output).find("Serving ") != std::string::npos;
        };
        if (!waitUntil([&] { return serving() || m_host.poll(); }, 60s) || !serving())
            throw std::runtime_error("synchost does not serve: " +
                                     readFile(scratch / "synchost.err"));
    }
    ~ServedFolder()
    {
        m_host.signal(SIGTERM);
        m_host.wait(45s);
        if (isMounted(m_folder))
            runProgram({"fusermount3", "-uz", m_folder.string()});
    }
    ServedFolder(const ServedFolder&) = delete;
    ServedFolder& operator=(const ServedFolder&) = delete;

private:
    fs::path m_folder;
    fs::path m_output;
    ChildProcess m_host;
};

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
    const ServedFolder served(scratch.path(), remote, folder);

    fmt::print("synchost, no simulated network, {} placeholders per size and mode; seconds "
               "from open to the whole content\n",
               count);
    fmt::print("{:>9} {:<10} {:>8} {:>8} {:>11} {:>11} {:>11}\n", "size", "mode", "median", "p95",
               "copy median", "copy p95", "median/copy");
    for (const auto size : sizes) {
        const auto copies =
            plainCopies(sources / std::to_string(size), scratch.path() / "copy", count);
        for (const auto* mode : modes) {
            std::vector<fs::path> files;
            for (int i = 0; i < count; ++i)
                files.push_back(remoteFile(folder, size, mode, i));
            const auto times = std::string_view(mode) == "sequential" ? openOneAfterAnother(files)
                                                                      : openAllAtOnce(files);
            fmt::print("{:>9} {:<10} {:>8.3f} {:>8.3f} {:>11.4f} {:>11.4f} {:>11.1f}\n", size, mode,
                       percentile(times, 0.5), percentile(times, 0.95), percentile(copies, 0.5),
                       percentile(copies, 0.95), percentile(times, 0.5) / percentile(copies, 0.5));
            std::fflush(stdout);
        }
    }
    return 0;
}
