// synchost as the benchmarks' sync client: the real plug-in, its hydration jobs and the real
// daemon over a folder that mirrors a remote one.
#pragma once

#include "process.h"

#include <filesystem>
#include <string>
#include <vector>

namespace TessarnBench {

// synchost serving remote in folder from construction on; stopped with SIGTERM whatever
// happens, so that no mount and no daemon are left behind. Its state, socket, log and output
// go to scratch, and the daemon reads scratch/config/tessarn/config.json when there is one.
class SynchostServing {
public:
    SynchostServing(const std::filesystem::path& scratch, const std::filesystem::path& remote,
                    const std::filesystem::path& folder,
                    const std::vector<std::string>& options = {});
    ~SynchostServing();
    SynchostServing(const SynchostServing&) = delete;
    SynchostServing& operator=(const SynchostServing&) = delete;

private:
    std::filesystem::path m_folder;
    std::filesystem::path m_output;
    TessarnTest::ChildProcess m_host;
};

} // namespace TessarnBench
