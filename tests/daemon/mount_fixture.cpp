#include "mount_fixture.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <tessarn.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TessarnTest {

std::vector<std::string> daemonCommand(const fs::path& folder, const std::string& socketPath,
                                       const std::vector<std::string>& flags)
{
    std::vector<std::string> command{TESSARN_BINARY};
    command.insert(command.end(), flags.begin(), flags.end());
    command.insert(command.end(), {"-f", "-o", testOwner, "-s", socketPath, folder.string()});
    return command;
}

MountedFolder::MountedFolder(MountOptions options) : m_options(std::move(options))
{
    fs::permissions(m_dir.path(), fs::perms::owner_all | fs::perms::group_exec |
                                      fs::perms::others_exec);
    m_mountPoint = m_dir.path() / "Sync";
    fs::create_directory(m_mountPoint);
    const auto registration = Tessarn::Registration::registerFilesystem(m_mountPoint, testOwner);
    if (!registration)
        throw std::runtime_error(registration.error());
    m_underneath = ::open(m_mountPoint.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);

    if (m_options.socketPath.empty())
        m_options.socketPath = (m_dir.path() / "no-client").string();
    auto command = daemonCommand(m_mountPoint, m_options.socketPath, m_options.flags);
    if (!m_options.extraFuseArguments.empty()) {
        command.emplace_back("--");
        command.insert(command.end(), m_options.extraFuseArguments.begin(),
                       m_options.extraFuseArguments.end());
    }
    m_daemon = std::make_unique<ChildProcess>(command, m_dir.path() / "daemon.out",
                                              m_dir.path() / "daemon.err", m_options.environment);
    const bool mounted = waitUntil([this] { return isMounted(m_mountPoint) || m_daemon->poll(); },
                                   10s) &&
                         isMounted(m_mountPoint);
    if (!mounted) {
        m_daemon->wait(1s);
        throw std::runtime_error("the daemon did not mount; its errors:\n" + daemonErrors());
    }
    // The mount shows before the daemon holds its end of it; one answered request proves that.
    struct stat root {};
    ::stat(m_mountPoint.c_str(), &root);
}

MountedFolder::~MountedFolder()
{
    if (!m_exitStatus) {
        const auto status = unmount();
        EXPECT_EQ(status, 0) << "the daemon's exit status";
    }
    checkErrors();
    ::close(m_underneath);
}

std::optional<int> MountedFolder::unmount()
{
    if (runProgram({"fusermount3", "-u", m_mountPoint.string()}).status != 0)
        runProgram({"fusermount3", "-uz", m_mountPoint.string()});
    return waitForExit();
}

std::optional<int> MountedFolder::waitForExit()
{
    m_exitStatus = m_daemon->wait(10s);
    if (isMounted(m_mountPoint)) {
        ADD_FAILURE() << "the folder is still mounted after the daemon ended";
        runProgram({"fusermount3", "-uz", m_mountPoint.string()});
    }
    return *m_exitStatus;
}

fs::path MountedFolder::underneath(const fs::path& relative) const
{
    return fs::path("/proc/self/fd") / std::to_string(m_underneath) / relative;
}

std::string MountedFolder::daemonOutput() const
{
    return readFile(m_dir.path() / "daemon.out");
}

std::string MountedFolder::daemonErrors() const
{
    return readFile(m_dir.path() / "daemon.err");
}

std::vector<std::string> MountedFolder::openDescriptors() const
{
    std::vector<std::string> descriptors;
    std::error_code ignored;
    for (const auto& entry :
         fs::directory_iterator("/proc/" + std::to_string(daemonPid()) + "/fd"))
        descriptors.push_back(entry.path().filename().string() + " -> " +
                              fs::read_symlink(entry.path(), ignored).string());
    std::sort(descriptors.begin(), descriptors.end());
    return descriptors;
}

void MountedFolder::checkErrors() const
{
    std::istringstream errors(daemonErrors());
    for (std::string line; std::getline(errors, line);) {
        bool allowed = line.starts_with("Failed to locate process name for: ");
        for (const auto& prefix : m_options.allowedErrors)
            allowed = allowed || line.starts_with(prefix);
        EXPECT_TRUE(allowed) << "unexpected line on the daemon's standard error: " << line;
    }
}

} // namespace TessarnTest
