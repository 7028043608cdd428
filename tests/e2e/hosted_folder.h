// A remote folder, a sync folder and synchost serving the one in the other, run as a child
// process with the real plug-in and the real daemon. Whatever a test does, the end leaves
// no host, no daemon and no mount behind.
#pragma once

#include "process.h"
#include "test_support.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tessarn/tessarn.h>
#include <vector>

namespace TessarnTest {

class HostedFolder {
public:
    // The folder's name has a blank, as users' folders often do.
    explicit HostedFolder(const std::string& folderName = "sync folder");
    ~HostedFolder();
    HostedFolder(const HostedFolder&) = delete;
    HostedFolder& operator=(const HostedFolder&) = delete;

    // A file on the "server".
    void putRemote(const std::filesystem::path& relative, std::string_view content);
    void removeRemote(const std::filesystem::path& relative);

    // Starts synchost, with the environment added to its own, and waits until it serves;
    // false (with the reason added to the test's failure) if it does not.
    bool startHost(const std::vector<std::string>& extraArguments = {},
                   const std::vector<std::string>& environment = {});
    // synchost --sample: its own sample remote, in remote() if that is missing, served in
    // "sync" (the folder's name must be that).
    bool startSampleHost();
    // Another synchost over the same folder, with the state folder and the socket given, run
    // to its end.
    ProgramResult runAnotherHost(const std::filesystem::path& state,
                                 const std::filesystem::path& socket) const;
    // synchost with these arguments alone, run to its end.
    static ProgramResult runHostToItsEnd(const std::vector<std::string>& arguments);
    // SIGTERM, then waits; the exit status, nothing if the host had to be killed.
    std::optional<int> stopHost();
    // Waits for the host to end by itself; its exit status, nothing if it had to be killed.
    std::optional<int> waitForHost(std::chrono::milliseconds timeout);
    // SIGKILL: the daemon, the host's child, lives on.
    void killHost();

    const std::filesystem::path& remote() const { return m_remote; }
    const std::filesystem::path& folder() const { return m_folder; }
    std::filesystem::path local(const std::filesystem::path& relative) const
    {
        return m_folder / relative;
    }
    const std::filesystem::path& socketPath() const { return m_socket; }
    std::filesystem::path journalPath() const { return m_state / "journal.db"; }
    // The folder as the mount hides it.
    std::filesystem::path underneath(const std::filesystem::path& relative) const;
    pid_t hostPid() const;
    // The daemon the current host started, or -1.
    pid_t daemonPid() const { return m_daemonPid; }
    // Waits until the plug-in has restarted the daemon, the folder is served again and synchost
    // has said so; the new daemon becomes daemonPid(). False if that does not happen within the
    // time given.
    bool waitForRestartedDaemon(std::chrono::milliseconds timeout);
    // synchost's own lines (the daemon's and the plug-in's go to a log file).
    std::string hostOutput() const;
    std::string hostErrors() const;
    // The daemon's trace and the plug-in's log.
    std::string daemonLog() const;
    std::string diagnostics() const;

    Tessarn::PlaceHolderAttributes record(const std::filesystem::path& relative) const;

private:
    bool launch(std::vector<std::string> arguments, std::vector<std::string> environment = {});
    void cleanUp();
    void checkForSanitizerReports() const;

    TempDir m_dir;
    std::filesystem::path m_remote;
    std::filesystem::path m_folder;
    std::filesystem::path m_state;
    std::filesystem::path m_socket;
    int m_underneath = -1;
    std::unique_ptr<ChildProcess> m_host;
    pid_t m_daemonPid = -1;
    std::vector<pid_t> m_daemons; // of every host started, to make sure they all end
    std::size_t m_restarts = 0;   // of the current host's daemon, as waited for
    int m_runs = 0;
};

// Reads the file with a separate process (cat, or the program given), bounded in time.
ProgramResult readWithProcess(const std::filesystem::path& file, const std::string& program = "cat",
                              std::chrono::milliseconds timeout = 30s);

// The daemon is gone once its process has ended (a zombie counts: nobody may reap it).
bool processEnded(pid_t pid);

} // namespace TessarnTest
