#include "hosted_folder.h"

#include "e2e_support.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TessarnTest {

namespace {

constexpr auto hostStartTimeout = 60s; // a sanitizer build of all three on a busy machine
constexpr auto hostStopTimeout = 45s;  // the plug-in gives the daemon up to 30 s

} // namespace

bool processEnded(pid_t pid)
{
    const std::string state = statusField(pid, "State");
    return state.empty() || state.starts_with('Z') || state.starts_with('X');
}

HostedFolder::HostedFolder(const std::string& folderName)
    : m_remote(m_dir.path() / "remote"), m_folder(m_dir.path() / folderName),
      m_state(m_dir.path() / "state"), m_socket(m_dir.path() / "api.socket")
{
    // The daemon runs as us, but the applications of some tests do not.
    fs::permissions(m_dir.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directories(m_folder);
    m_underneath = ::open(m_folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

HostedFolder::~HostedFolder()
{
    cleanUp();
    ::close(m_underneath);
}

void HostedFolder::cleanUp()
{
    if (m_host && !m_host->poll())
        stopHost();
    checkForSanitizerReports();
    if (isMounted(m_folder))
        unmountFolder(m_folder);
    for (const pid_t daemon : m_daemons) {
        if (!waitUntil([daemon] { return processEnded(daemon); }, 5s)) {
            ADD_FAILURE() << "the daemon " << daemon << " outlived its mount";
            ::kill(daemon, SIGKILL);
        }
    }
}

// synchost, the plug-in and the daemon of a sanitizer build report there.
void HostedFolder::checkForSanitizerReports() const
{
    for (int run = 1; run <= m_runs; ++run) {
        for (const auto* kind : {"host-", "daemon-"}) {
            const auto file =
                m_dir.path() / (kind + std::to_string(run) + (*kind == 'h' ? ".err" : ".log"));
            const std::string text = readFile(file);
            for (const auto* marker : {"Sanitizer", "runtime error:"}) {
                if (text.find(marker) != std::string::npos)
                    ADD_FAILURE() << file << ":\n" << text;
            }
        }
    }
}

void HostedFolder::putRemote(const fs::path& relative, std::string_view content)
{
    fs::create_directories((m_remote / relative).parent_path());
    writeFile(m_remote / relative, content);
}

void HostedFolder::removeRemote(const fs::path& relative)
{
    fs::remove(m_remote / relative);
}

bool HostedFolder::startHost(const std::vector<std::string>& extraArguments,
                             const std::vector<std::string>& environment)
{
    std::vector<std::string> arguments = extraArguments;
    arguments.insert(arguments.end(),
                     {"--state", m_state.string(), m_remote.string(), m_folder.string()});
    return launch(arguments, environment);
}

bool HostedFolder::startSampleHost()
{
    return launch({"--sample", m_dir.path().string()});
}

bool HostedFolder::launch(std::vector<std::string> arguments, std::vector<std::string> environment)
{
    ++m_runs;
    m_restarts = 0;
    const auto run = std::to_string(m_runs);
    std::vector<std::string> command{SYNCHOST_BINARY, "--socket", m_socket.string(), "--log",
                                     (m_dir.path() / ("daemon-" + run + ".log")).string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    // No configuration of the machine's user: the one that comes with the build is used.
    environment.push_back("XDG_CONFIG_HOME=" + (m_dir.path() / "no-config").string());
    m_host = std::make_unique<ChildProcess>(command, m_dir.path() / ("host-" + run + ".out"),
                                            m_dir.path() / ("host-" + run + ".err"), environment);
    const bool serving = waitUntil(
        [this] { return hostOutput().find("Serving ") != std::string::npos || m_host->poll(); },
        hostStartTimeout);
    m_daemonPid = childNamed(m_host->pid(), "tessarn").value_or(-1);
    if (m_daemonPid > 0)
        m_daemons.push_back(m_daemonPid);
    if (!serving || m_host->poll()) {
        ADD_FAILURE() << "synchost does not serve:\n" << hostOutput() << diagnostics();
        return false;
    }
    return true;
}

bool HostedFolder::waitForRestartedDaemon(std::chrono::milliseconds timeout)
{
    const pid_t old = m_daemonPid;
    const bool restarted = waitUntil(
        [&] {
            const pid_t daemon = childNamed(m_host->pid(), "tessarn").value_or(old);
            struct stat served {};
            if (daemon == old || !isMounted(m_folder) || ::stat(m_folder.c_str(), &served) != 0 ||
                occurrences(hostOutput(), "is served again") <= m_restarts)
                return false;
            m_daemonPid = daemon;
            return true;
        },
        timeout);
    if (restarted) {
        m_daemons.push_back(m_daemonPid);
        ++m_restarts;
    }
    return restarted;
}

ProgramResult HostedFolder::runAnotherHost(const fs::path& state, const fs::path& socket) const
{
    return runHostToItsEnd({"--socket", socket.string(), "--state", state.string(),
                            m_remote.string(), m_folder.string()});
}

ProgramResult HostedFolder::runHostToItsEnd(const std::vector<std::string>& arguments)
{
    std::vector<std::string> command{SYNCHOST_BINARY};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runProgram(command, 30s);
}

std::optional<int> HostedFolder::stopHost()
{
    m_host->signal(SIGTERM);
    return m_host->wait(hostStopTimeout);
}

std::optional<int> HostedFolder::waitForHost(std::chrono::milliseconds timeout)
{
    return m_host->wait(timeout);
}

void HostedFolder::killHost()
{
    m_host->signal(SIGKILL);
    m_host->wait(5s);
}

fs::path HostedFolder::underneath(const fs::path& relative) const
{
    return fs::path("/proc/self/fd") / std::to_string(m_underneath) / relative;
}

pid_t HostedFolder::hostPid() const
{
    return m_host ? m_host->pid() : -1;
}

std::string HostedFolder::hostOutput() const
{
    return readFile(m_dir.path() / ("host-" + std::to_string(m_runs) + ".out"));
}

std::string HostedFolder::hostErrors() const
{
    return readFile(m_dir.path() / ("host-" + std::to_string(m_runs) + ".err"));
}

std::string HostedFolder::daemonLog() const
{
    return readFile(m_dir.path() / ("daemon-" + std::to_string(m_runs) + ".log"));
}

std::string HostedFolder::diagnostics() const
{
    return "synchost errors:\n" + hostErrors() + "daemon and plug-in:\n" + daemonLog();
}

// Every file of the tests' folders has a record: a missing one must not pass for the default
// record, which reads as hydrated.
Tessarn::PlaceHolderAttributes HostedFolder::record(const fs::path& relative) const
{
    const auto record = Tessarn::PlaceHolderAttributes::fromAttributes(local(relative));
    if (!record || !record->isOk()) {
        ADD_FAILURE() << "no placeholder record for " << relative;
        return {};
    }
    return *record;
}

ProgramResult readWithProcess(const fs::path& file, const std::string& program,
                              std::chrono::milliseconds timeout)
{
    return runProgram({program, file.string()}, timeout);
}

} // namespace TessarnTest
