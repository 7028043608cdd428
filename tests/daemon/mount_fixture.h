// A tessarn mount over a fresh, registered folder, with the daemon in the foreground as a child
// process. Always unmounted at the end; the daemon's exit status and standard error are checked.
#pragma once

#include "process.h"
#include "test_support.h"

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace TessarnTest {

struct MountOptions {
    std::vector<std::string> flags;              // before the mount point, e.g. "-d", "-p"
    std::vector<std::string> extraFuseArguments; // after "--"
    std::string socketPath; // default: a path where nobody listens, which the daemon may say
    std::vector<std::string> environment;
    std::optional<int> descriptorLimit; // the daemon's soft and hard limit of open files
    // Standard error lines that may appear, by their beginning.
    std::vector<std::string> allowedErrors;
};

inline MountOptions withFlags(std::vector<std::string> flags)
{
    MountOptions options;
    options.flags = std::move(flags);
    return options;
}

class MountedFolder {
public:
    explicit MountedFolder(MountOptions options = {});
    ~MountedFolder();
    MountedFolder(const MountedFolder&) = delete;
    MountedFolder& operator=(const MountedFolder&) = delete;

    const std::filesystem::path& mountPoint() const { return m_mountPoint; }
    std::filesystem::path path(const std::filesystem::path& relative) const
    {
        return m_mountPoint / relative;
    }
    // The folder the mount hides, reached through a descriptor opened before mounting.
    std::filesystem::path underneath(const std::filesystem::path& relative = {}) const;
    const std::filesystem::path& scratch() const { return m_dir.path(); }
    pid_t daemonPid() const { return m_daemon->pid(); }
    std::string daemonOutput() const;
    std::string daemonErrors() const;
    std::map<int, std::string> openDescriptors() const { return descriptorsOf(daemonPid()); }

    // Unmounts and waits for the daemon; its exit status, nothing if it had to be killed.
    std::optional<int> unmount();
    // The daemon ends in another way (a signal): only wait for it.
    std::optional<int> waitForExit();

private:
    void checkErrors() const;

    TempDir m_dir;
    std::filesystem::path m_mountPoint;
    int m_underneath = -1;
    MountOptions m_options;
    std::unique_ptr<ChildProcess> m_daemon;
    std::optional<std::optional<int>> m_exitStatus;
};

} // namespace TessarnTest
