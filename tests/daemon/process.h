// Child processes for the tests: the daemon itself, and the applications that use the mount;
// and what /proc tells about processes.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace TessarnTest {

using namespace std::chrono_literals;

inline constexpr auto testOwner = "Halvorine:6f1c2a3b-0000-4000-8000-000000000001";

// A program run with its standard output and error sent to files. The given variables take
// the place of inherited ones of the same name.
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

// The daemon's command line for a folder, as the plug-in gives it, with extra arguments for
// FUSE after "--".
std::vector<std::string> daemonCommand(const std::filesystem::path& folder,
                                       const std::string& socketPath,
                                       const std::vector<std::string>& flags = {},
                                       const std::vector<std::string>& extraArguments = {});

// Waits until the folder is mounted; false once the process that should mount it has ended.
bool waitForMount(const std::filesystem::path& mountPoint, std::string_view type,
                  ChildProcess& process);

// A field of /proc/<pid>/status ("Name", "PPid", "State"), empty when there is no such process.
std::string statusField(pid_t pid, std::string_view field);
// A child of that process with that name, if there is one.
std::optional<pid_t> childNamed(pid_t parent, std::string_view name);
// The open descriptors of a process, each with what it refers to.
std::map<int, std::string> descriptorsOf(pid_t pid);

} // namespace TessarnTest
