#include "bench_mounts.h"

#include "test_support.h"

#include <cstdlib>
#include <fmt/format.h>
#include <stdexcept>
#include <tessarn/tessarn.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace TessarnTest;

namespace TessarnBench {

Mount::Mount(const std::vector<std::string>& command, fs::path mountPoint, const std::string& type)
    : m_mountPoint(std::move(mountPoint)),
      m_process(std::make_unique<ChildProcess>(command,
                                               m_mountPoint.string() + ".out",
                                               m_mountPoint.string() + ".err"))
{
    if (!waitForMount(m_mountPoint, type, *m_process))
        throw std::runtime_error("did not mount: " + command[0] + ": " +
                                 readFile(m_mountPoint.string() + ".err"));
}

Mount::~Mount()
{
    if (!m_process)
        return;
    unmountFolder(m_mountPoint);
    m_process->wait(10s);
}

Mount Mount::tessarn(const fs::path& folder, const std::string& socketPath,
                     const std::vector<std::string>& extraArguments)
{
    const auto registration = Tessarn::Registration::registerFilesystem(folder, testOwner);
    if (!registration)
        throw std::runtime_error(registration.error());
    return Mount(daemonCommand(folder, socketPath, {}, extraArguments), folder, "fuse.tessarn");
}

Mount Mount::bindfs(const fs::path& source, const fs::path& mountPoint, KernelCache cache)
{
    std::vector<std::string> command = {"bindfs", "-f"};
    if (cache == KernelCache::off)
        command.insert(command.end(), {"-o", "attr_timeout=0,entry_timeout=0,negative_timeout=0"});
    command.insert(command.end(), {source.string(), mountPoint.string()});
    return Mount(command, mountPoint, "fuse");
}

// timeout=0 alone, not cache=never: both give zero entry and attribute timeouts (a failed
// lookup is not cached at all), but cache=never also sets direct_io, which would bypass the page
// cache that bindfs and tessarn use, and so compare a different thing.
Mount Mount::passthroughLl(const std::string& binary, const fs::path& source,
                           const fs::path& mountPoint)
{
    return Mount(
        {binary, "-f", "-o", "source=" + source.string(), "-o", "timeout=0", mountPoint.string()},
        mountPoint, "fuse.passthrough_ll");
}

Mount Mount::passthroughHp(const fs::path& binary, const fs::path& source,
                           const fs::path& mountPoint)
{
    // Plain "fuse", as bindfs's: the program names itself "hpps" as the source, not as a subtype.
    return Mount({binary.string(), "--foreground", source.string(), mountPoint.string()},
                 mountPoint, "fuse");
}

std::optional<fs::path> peerBinary(const std::string& name)
{
    const char* folder = std::getenv("TESSARN_PEERS");
    const auto binary = fs::path(folder && *folder ? folder : "/var/tmp/tessarn-peers") / name;
    if (::access(binary.c_str(), X_OK) == 0)
        return binary;
    fmt::print("{} not found at {} (set TESSARN_PEERS, see bench/README.md): its column is n/a\n",
               name, binary.string());
    return std::nullopt;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace TessarnBench
