#include "process.h"

#include "test_support.h"

#include <csignal>
#include <fcntl.h>
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
    for (char** variable = environ; *variable; ++variable)
        variables.push_back(*variable);
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

} // namespace TessarnTest
