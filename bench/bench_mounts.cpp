#include "bench_mounts.h"

#include "test_support.h"

#include <stdexcept>
#include <tessarn.h>

namespace fs = std::filesystem;
using namespace TessarnTest;

namespace TessarnBench {

Mount::Mount(const std::vector<std::string>& command, fs::path mountPoint, const std::string& type)
    : m_mountPoint(std::move(mountPoint)),
      m_process(std::make_unique<ChildProcess>(command,
                                               m_mountPoint.string() + ".out",
                                               m_mountPoint.string() + ".err"))
{
    if (!waitUntil([&] { return isMounted(m_mountPoint, type) || m_process->poll(); }, 10s) ||
        !isMounted(m_mountPoint, type))
        throw std::runtime_error("did not mount: " + command[0] + ": " +
                                 readFile(m_mountPoint.string() + ".err"));
}

Mount::~Mount()
{
    if (!m_process)
        return;
    if (runProgram({"fusermount3", "-u", m_mountPoint.string()}).status != 0)
        runProgram({"fusermount3", "-uz", m_mountPoint.string()});
    m_process->wait(10s);
}

Mount Mount::tessarn(const fs::path& folder, const std::string& socketPath,
                     const std::vector<std::string>& extraArguments)
{
    const auto registration = Tessarn::Registration::registerFilesystem(folder, benchOwner);
    if (!registration)
        throw std::runtime_error(registration.error());
    std::vector<std::string> command{TESSARN_BINARY, "-f", "-o", benchOwner, "-s", socketPath,
                                     folder.string()};
    if (!extraArguments.empty()) {
        command.emplace_back("--");
        command.insert(command.end(), extraArguments.begin(), extraArguments.end());
    }
    return Mount(command, folder, "fuse.tessarn");
}

Mount Mount::bindfs(const fs::path& source, const fs::path& mountPoint)
{
    return Mount({"bindfs", "-f", "-o", "attr_timeout=0,entry_timeout=0,negative_timeout=0",
                  source.string(), mountPoint.string()},
                 mountPoint, "fuse");
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace TessarnBench
