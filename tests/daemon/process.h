// Child processes for the tests: the daemon itself, and the applications that use the mount.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace TessarnTest {

using namespace std::chrono_literals;

// A program run with its standard output and error sent to files.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::filesystem::path& outFile,
                 const std::filesystem::path& errFile,
                 const std::vector<std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    // The exit status (128 + signal for a killed one), once the process has ended.
    std::optional<int> poll();
    // Waits that long at most; a process still running then is killed and reported as nothing.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    void signal(int number);

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

struct ProgramResult {
    int status = -1; // -1: did not end in time
    std::string out;
    std::string err;
};

// Runs a program to its end, bounded in time.
ProgramResult runProgram(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = 10s,
                         const std::vector<std::string>& environment = {});

// The same program as user nobody, with no supplementary groups.
std::vector<std::string> asNobody(std::vector<std::string> argv);

} // namespace TessarnTest
