// Mounts for the benchmarks: a tessarn daemon over a registered folder, or bindfs as the
// pass-through baseline. Both use zero kernel timeouts, and both are unmounted at the end.
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

private:
    Mount(const std::vector<std::string>& command, std::filesystem::path mountPoint,
          const std::string& type);

    std::filesystem::path m_mountPoint;
    std::unique_ptr<TessarnTest::ChildProcess> m_process;
};

double secondsSince(std::chrono::steady_clock::time_point start);

} // namespace TessarnBench
