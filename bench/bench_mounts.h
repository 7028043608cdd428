// Mounts for the benchmarks: a tessarn daemon over a registered folder, or bindfs and libfuse's
// passthrough_ll example as pass-through peers. All use zero kernel timeouts, and all are
// unmounted at the end.
#pragma once

#include "process.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace TessarnBench {

class Mount {
public:
    ~Mount();
    Mount(Mount&&) = default;

    // tessarn over the folder itself; its output goes to files beside the folder.
    static Mount tessarn(const std::filesystem::path& folder, const std::string& socketPath,
                         const std::vector<std::string>& extraArguments = {});
    // bindfs showing source at mountPoint.
    static Mount bindfs(const std::filesystem::path& source,
                        const std::filesystem::path& mountPoint);
    // libfuse's passthrough_ll example, built from libfuse's sources at binary, showing
    // source at mountPoint.
    static Mount passthroughLl(const std::string& binary, const std::filesystem::path& source,
                               const std::filesystem::path& mountPoint);

    // The mounting process: the file system's own, as every one of them runs in the foreground.
    pid_t pid() const { return m_process->pid(); }

private:
    Mount(const std::vector<std::string>& command, std::filesystem::path mountPoint,
          const std::string& type);

    std::filesystem::path m_mountPoint;
    std::unique_ptr<TessarnTest::ChildProcess> m_process;
};

double secondsSince(std::chrono::steady_clock::time_point start);

} // namespace TessarnBench
