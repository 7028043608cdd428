// The daemon's process-wide state: created once at start-up, read-only afterwards, read by
// every FUSE operation.
#pragma once

#include "startup/config_file.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace TessarnFuse {

struct DaemonContext {
    std::filesystem::path mountPoint;
    std::string ownerId;
    int rootFd = -1; // the folder underneath, opened before the mount hid it
    FilterLists filters;
    bool debug = false;
    std::uint64_t streamFrom = 0; // see Configuration
};

// Nothing before start-up has published a context and after shutdown has withdrawn it.
const DaemonContext* daemonContext();
void publishContext(const DaemonContext* context);

} // namespace TessarnFuse
