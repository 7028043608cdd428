#include "mount_fixture.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <tessarn/tessarn.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TessarnTest {

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

    if (m_options.socketPath.empty()) {
        m_options.socketPath = (m_dir.path() / "no-client").string();
        m_options.allowedErrors.push_back("Not connected to the sync client at ");
    }
    auto command = daemonCommand(m_mountPoint, m_options.socketPath, m_options.flags,
                                 m_options.extraFuseArguments);
    if (const auto limit = m_options.descriptorLimit) {
        const auto both = std::to_string(*limit) + ":" + std::to_string(*limit);
        command.insert(command.begin(), {"prlimit", "--nofile=" + both, "--"});
    }
    m_daemon = std::make_unique<ChildProcess>(command,
        m_dir.path() / "daemon.out", m_dir.path() / "daemon.err", m_options.environment);
    if (!waitForMount(m_mountPoint, "fuse.tessarn", *m_daemon)) {
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
    unmountFolder(m_mountPoint);
    return waitForExit();
}

std::optional<int> MountedFolder::waitForExit()
{
    m_exitStatus = m_daemon->wait(10s);
    if (isMounted(m_mountPoint)) {
        ADD_FAILURE() << "the folder is still mounted after the daemon ended";
        unmountFolder(m_mountPoint);
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
