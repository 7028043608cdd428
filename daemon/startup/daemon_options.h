// What the command line asks for, until start-up takes it over.
#pragma once

#include "startup/config_file.h"

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace TessarnFuse {

// The sync client's socket in the user's runtime folder: $XDG_RUNTIME_DIR, else the one
// systemd makes for the daemon's user.
std::string defaultSocketPath();
// auto_unmount covers a daemon that dies, unless -k leaves that to its supervisor. The kernel
// caches no attributes, entries or failed look-ups: the daemon's replies say so, each with a
// timeout of 0.
inline constexpr auto BASE_FUSE_OPTIONS = "auto_unmount";

struct DaemonOptions {
    std::filesystem::path mountPoint;
    std::string ownerId;
    std::string socketPath = defaultSocketPath();
    bool daemon = true;
    std::vector<std::string> fuseArguments;
    Configuration configuration;
    bool debug = false;
};

// The program ends at once, serving nothing: 255 after -h, a missing or unresolvable mount
// point or a bad configuration file; 0 after -V.
struct EarlyExit {
    int status;
};
using ParsedCommandLine = std::variant<DaemonOptions, EarlyExit>;

// Parses the command line and writes the option lines.
ParsedCommandLine parseCommandLine(int argc, char** argv);

void printUsage(const char* program);

} // namespace TessarnFuse
