#include "process.h"

#include "test_support.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace TessarnTest {

namespace {
int exitStatus(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    return 128 + WTERMSIG(waitStatus);
}

void redirect(const std::filesystem::path& file, int target)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, target);
    ::close(fd);
}

// getenv takes the first of two entries with one name, so an inherited one would win.
bool isOverridden(std::string_view variable, const std::vector<std::string>& environment)
{
    const auto name = variable.substr(0, variable.find('=') + 1);
    return std::any_of(environment.begin(), environment.end(),
                       [&](const std::string& override) { return override.starts_with(name); });
}
} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::filesystem::path& outFile,
                           const std::filesystem::path& errFile,
                           const std::vector<std::string>& environment)
{
    std::vector<char*> arguments;
    for (const auto& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    std::vector<char*> variables;
    for (char** variable = environ; *variable; ++variable) {
        if (!isOverridden(*variable, environment))
            variables.push_back(*variable);
    }
    for (const auto& variable : environment)
        variables.push_back(const_cast<char*>(variable.c_str()));
    variables.push_back(nullptr);

    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        // A test killed by its time-out must not leave a daemon and its mount behind.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        redirect(outFile, STDOUT_FILENO);
        redirect(errFile, STDERR_FILENO);
        ::execvpe(arguments[0], arguments.data(), variables.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess()
{
    if (!poll()) {
        signal(SIGKILL);
        wait(5s);
    }
}

std::optional<int> ChildProcess::poll()
{
    if (m_status)
        return m_status;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
        m_status = exitStatus(status);
    return m_status;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout)
{
    if (waitUntil([this] { return poll().has_value(); }, timeout))
        return m_status;
    signal(SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_status = exitStatus(status);
    return std::nullopt;
}

void ChildProcess::signal(int number)
{
    if (!m_status)
        ::kill(m_pid, number);
}

ProgramResult runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::vector<std::string>& environment)
{
    TempDir output;
    const auto outFile = output.path() / "out";
    const auto errFile = output.path() / "err";
    ProgramResult result;
    {
        ChildProcess child(argv, outFile, errFile, environment);
        result.status = child.wait(timeout).value_or(-1);
    }
    result.out = readFile(outFile);
    result.err = readFile(errFile);
    return result;
}

std::vector<std::string> asNobody(std::vector<std::string> argv)
{
    argv.insert(argv.begin(),
                {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    return argv;
}

std::vector<std::string> daemonCommand(const std::filesystem::path& folder,
                                       const std::string& socketPath,
                                       const std::vector<std::string>& flags,
                                       const std::vector<std::string>& extraArguments)
{
    std::vector<std::string> command{TESSARN_BINARY};
    command.insert(command.end(), flags.begin(), flags.end());
    command.insert(command.end(), {"-f", "-o", testOwner, "-s", socketPath, folder.string()});
    if (!extraArguments.empty()) {
        command.emplace_back("--");
        command.insert(command.end(), extraArguments.begin(), extraArguments.end());
    }
    return command;
}

bool waitForMount(const std::filesystem::path& mountPoint, std::string_view type,
                  ChildProcess& process)
{
    return waitUntil([&] { return isMounted(mountPoint, type) || process.poll(); }, 10s) &&
           isMounted(mountPoint, type);
}

std::string statusField(pid_t pid, std::string_view field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':')
            return line.substr(line.find_first_not_of(" \t", field.size() + 1));
    }
    return {};
}

std::optional<pid_t> childNamed(pid_t parent, std::string_view name)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string file = entry.path().filename();
        if (file.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = std::stoi(file);
        if (statusField(pid, "PPid") == std::to_string(parent) && statusField(pid, "Name") == name)
            return pid;
    }
    return std::nullopt;
}

std::map<int, std::string> descriptorsOf(pid_t pid)
{
    std::map<int, std::string> descriptors;
    std::error_code ignored;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        descriptors[std::stoi(entry.path().filename().string())] =
            std::filesystem::read_symlink(entry.path(), ignored).string();
    return descriptors;
}

} // namespace TessarnTest
