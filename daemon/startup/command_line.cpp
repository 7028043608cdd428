#include "startup/console.h"
#include "startup/daemon_options.h"

#include <cstdlib>
#include <fmt/format.h>
#include <fuse_lowlevel.h>
#include <getopt.h>
#include <iomanip>
#include <tessarn/tessarn.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace TessarnFuse {

namespace {

constexpr auto publicOptions = "allow_other,default_permissions";
constexpr int failureStatus = 255;
constexpr option longOptions[] = {{"version", no_argument, nullptr, 'V'}, {}};

// The mount options depend on -p and -k together, in whatever order they come.
struct MountChoices {
    bool keepMount = false;
    std::vector<std::size_t> publicSlots; // where each -p put its option argument
};

// Applies one option; the status to end with when the program must end.
std::optional<int> applyOption(int option, DaemonOptions& options, MountChoices& mount,
                               const char* program)
{
    switch (option) {
    case 'h':
        printUsage(program);
        return failureStatus;
    case 'V':
        printLine("tessarn ", TESSARN_VERSION_STRING, " (libfuse ", fuse_pkgversion(), ")");
        return 0;
    case 'f':
        options.daemon = false;
        options.fuseArguments.emplace_back("-f");
        printLine("tessarnfuse not running as a daemon");
        return std::nullopt;
    case 'd':
        options.debug = true;
        options.fuseArguments.emplace_back("-d");
        printLine("tessarnfuse running with debug log enabled");
        return std::nullopt;
    case 'p':
        options.fuseArguments.emplace_back("-o");
        mount.publicSlots.push_back(options.fuseArguments.size());
        options.fuseArguments.emplace_back();
        printLine("tessarnfuse running as a public filesystem");
        return std::nullopt;
    case 'k':
        mount.keepMount = true;
        printLine("tessarnfuse leaves its mount to its supervisor when it dies");
        return std::nullopt;
    case 'i':
        try {
            options.configuration = loadConfiguration(optarg);
        } catch (const ConfigError& e) {
            printError(e.what());
            return failureStatus;
        }
        return std::nullopt;
    case 'o':
        options.ownerId = optarg;
        return std::nullopt;
    case 's':
        options.socketPath = optarg;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

// Without -k, auto_unmount removes the mount of a daemon that dies. With -k the dead mount stays
// and fails every access until the supervisor that restarts the daemon clears it: nothing can
// read a placeholder underneath as the empty file it is meanwhile.
void addMountOptions(DaemonOptions& options, const MountChoices& mount)
{
    const std::string base = mount.keepMount ? "" : BASE_FUSE_OPTIONS;
    for (const std::size_t slot : mount.publicSlots)
        options.fuseArguments[slot] =
            base.empty() ? publicOptions : std::string(publicOptions) + "," + base;
    if (mount.publicSlots.empty() && !base.empty()) {
        options.fuseArguments.emplace_back("-o");
        options.fuseArguments.push_back(base);
    }
}

} // namespace

std::string defaultSocketPath()
{
    constexpr auto socketInRuntimeFolder = "Halvorine/socket";
    // The variable must hold an absolute path; anything else is to be ignored.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return (fs::path(runtime) / socketInRuntimeFolder).string();
    return fmt::format("/run/user/{}/{}", ::geteuid(), socketInRuntimeFolder);
}

void printUsage(const char* program)
{
    printError("Usage:");
    printError(program, " [-h] | [-f] [-p] [-d] -i config-file -o ownerId /directory-mountpoint");
    printError("Type 'man tessarnfuse' for more details");
}

ParsedCommandLine parseCommandLine(int argc, char** argv)
{
    DaemonOptions options;
    options.fuseArguments.emplace_back(argv[0]);
    MountChoices mount;

    opterr = 0;
    optind = 0; // a full reset of getopt's state, so the parser can run more than once
    for (int option;
         (option = ::getopt_long(argc, argv, "hpfdkVi:o:s:", longOptions, nullptr)) != -1;) {
        if (const auto status = applyOption(option, options, mount, argv[0]))
            return EarlyExit{*status};
    }
    addMountOptions(options, mount);
    if (optind >= argc) {
        printError("Missing mountpoint");
        printUsage(argv[0]);
        return EarlyExit{failureStatus};
    }
    std::error_code error;
    options.mountPoint = fs::canonical(argv[optind], error);
    if (error) {
        printError("Cannot resolve the mount point ", std::quoted(argv[optind]), ": ",
                   error.message());
        return EarlyExit{failureStatus};
    }
    options.fuseArguments.push_back(options.mountPoint.string());
    options.fuseArguments.insert(options.fuseArguments.end(), argv + optind + 1, argv + argc);
    return options;
}

} // namespace TessarnFuse
