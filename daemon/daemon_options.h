// What the command line asks for, until start-up takes it over.
#pragma once

#include "config_file.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace TessarnFuse {

inline constexpr auto defaultSocketPath = "/run/user/1000/Halvorine/socket";
// No kernel caching of attributes, entries or failed look-ups: placeholder sizes and changes
// made underneath are seen at once. auto_unmount covers a daemon that dies.
inline constexpr auto BASE_FUSE_OPTIONS =
    "attr_timeout=0,entry_timeout=0,negative_timeout=0,auto_unmount";

struct DaemonOptions {
    std::filesystem::path mountPoint;
    std::string ownerId;
    std::string socketPath = defaultSocketPath;
    bool daemon = true;
    std::vector<std::string> fuseArguments;
    FilterLists filters;
    bool debug = false;
};

// Parses the command line and writes the option lines; nothing when the program must end
// with status 255 (after -h, a missing or unresolvable mount point, a bad configuration file).
std::optional<DaemonOptions> parseCommandLine(int argc, char** argv);

void printUsage(const char* program);

} // namespace TessarnFuse
