// Mounts for the benchmarks: a tessarn daemon over a registered folder, or bindfs and libfuse's
// passthrough_ll and passthrough_hp examples as pass-through peers. All are unmounted at the end.
#pragma once

#include "process.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace TessarnBench {

// How long a peer lets the kernel keep entries and attributes: not at all, which shows each
// request's own cost, or as long as the program's defaults say, as its users run it.
enum class KernelCache { off, programDefaults };

class Mount {
public:
    ~Mount();
    Mount(Mount&&) = default;

    // tessarn over the folder itself; its output goes to files beside the folder.
    static Mount tessarn(const std::filesystem::path& folder, const std::string& socketPath,
                         const std::vector<std::string>& extraArguments = {});
    // bindfs showing source at mountPoint; its defaults cache for a second.
    static Mount bindfs(const std::filesystem::path& source,
                        const std::filesystem::path& mountPoint, KernelCache cache);
    // libfuse's passthrough_ll example, built from libfuse's sources at binary, showing
    // source at mountPoint with zero timeouts.
    static Mount passthroughLl(const std::string& binary, const std::filesystem::path& source,
                               const std::filesystem::path& mountPoint);
    // libfuse's passthrough_hp example at binary, showing source at mountPoint in its caching
    // mode: entries, attributes and pages for a day, and the writeback cache.
    static Mount passthroughHp(const std::filesystem::path& binary,
                               const std::filesystem::path& source,
                               const std::filesystem::path& mountPoint);

    // The mounting process: the file system's own, as every one of them runs in the foreground.
    pid_t pid() const { return m_process->pid(); }

private:
    Mount(const std::vector<std::string>& command, std::filesystem::path mountPoint,
          const std::string& type);

    std::filesystem::path m_mountPoint;
    std::unique_ptr<TessarnTest::ChildProcess> m_process;
};

// A peer that is not part of this project, from the folder that $TESSARN_PEERS names (default
// /var/tmp/tessarn-peers); nothing, after a line on standard output saying where it was looked
// for, when it is not there.
std::optional<std::filesystem::path> peerBinary(const std::string& name);

double secondsSince(std::chrono::steady_clock::time_point start);

} // namespace TessarnBench
