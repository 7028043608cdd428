#include "synchost_serving.h"

#include "test_support.h"

#include <csignal>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace TessarnTest;

namespace TessarnBench {

namespace {

std::vector<std::string> hostCommand(const fs::path& scratch, const fs::path& remote,
                                     const fs::path& folder,
                                     const std::vector<std::string>& options)
{
    std::vector<std::string> command = {SYNCHOST_BINARY,
                                        "--state",
                                        (scratch / "state").string(),
                                        "--socket",
                                        (scratch / "api.socket").string(),
                                        "--log",
                                        (scratch / "synchost.log").string()};
    command.insert(command.end(), options.begin(), options.end());
    command.push_back(remote.string());
    command.push_back(folder.string());
    return command;
}

} // namespace

SynchostServing::SynchostServing(const fs::path& scratch, const fs::path& remote,
                                 const fs::path& folder, const std::vector<std::string>& options)
    : m_folder(folder), m_output(scratch / "synchost.out"),
      m_host(hostCommand(scratch, remote, folder, options), m_output, scratch / "synchost.err",
             {"XDG_CONFIG_HOME=" + (scratch / "config").string()})
{
    const auto serving = [this] {
        return readFile(m_output).find("Serving ") != std::string::npos;
    };
    if (!waitUntil([&] { return serving() || m_host.poll(); }, 60s) || !serving())
        throw std::runtime_error("synchost does not serve: " + readFile(scratch / "synchost.err"));
}

SynchostServing::~SynchostServing()
{
    m_host.signal(SIGTERM);
    m_host.wait(45s);
    if (isMounted(m_folder))
        runProgram({"fusermount3", "-uz", m_folder.string()});
}

} // namespace TessarnBench
