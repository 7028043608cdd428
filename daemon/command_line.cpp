#include "daemon_options.h"

#include "console.h"

#include <getopt.h>
#include <iomanip>

namespace fs = std::filesystem;

namespace TessarnFuse {

namespace {

constexpr auto publicOptionsPrefix = "allow_other,default_permissions,";

// Applies one option; false when the program must end.
bool applyOption(int option, DaemonOptions& options, bool& isPublic, const char* program)
{
    switch (option) {
    case 'h':
        printUsage(program);
        return false;
    case 'f':
        options.daemon = false;
        options.fuseArguments.emplace_back("-f");
        printLine("tessarnfuse not running as a daemon");
        return true;
    case 'd':
        options.debug = true;
        options.fuseArguments.emplace_back("-d");
        printLine("tessarnfuse running with debug log enabled");
        return true;
    case 'p':
        isPublic = true;
        options.fuseArguments.emplace_back("-o");
        options.fuseArguments.push_back(std::string(publicOptionsPrefix) + BASE_FUSE_OPTIONS);
        printLine("tessarnfuse running as a public filesystem");
        return true;
    case 'i':
        try {
            options.configuration = loadConfiguration(optarg);
        } catch (const ConfigError& e) {
            printError(e.what());
            return false;
        }
        return true;
    case 'o':
        options.ownerId = optarg;
        return true;
    case 's':
        options.socketPath = optarg;
        return true;
    default:
        return true;
    }
}

} // namespace

void printUsage(const char* program)
{
    printError("Usage:");
    printError(program, " [-h] | [-f] [-p] [-d] -i config-file -o ownerId /directory-mountpoint");
    printError("Type 'man tessarnfuse' for more details");
}

std::optional<DaemonOptions> parseCommandLine(int argc, char** argv)
{
    DaemonOptions options;
    options.fuseArguments.emplace_back(argv[0]);
    bool isPublic = false;

    opterr = 0;
    optind = 0; // a full reset of getopt's state, so the parser can run more than once
    for (int option; (option = ::getopt(argc, argv, "hpfdi:o:s:")) != -1;) {
        if (!applyOption(option, options, isPublic, argv[0]))
            return std::nullopt;
    }
    if (!isPublic) {
        options.fuseArguments.emplace_back("-o");
        options.fuseArguments.emplace_back(BASE_FUSE_OPTIONS);
    }
    if (optind >= argc) {
        printError("Missing mountpoint");
        printUsage(argv[0]);
        return std::nullopt;
    }
    std::error_code error;
    options.mountPoint = fs::canonical(argv[optind], error);
    if (error) {
        printError("Cannot resolve the mount point ", std::quoted(argv[optind]), ": ",
                   error.message());
        return std::nullopt;
    }
    options.fuseArguments.push_back(options.mountPoint.string());
    options.fuseArguments.insert(options.fuseArguments.end(), argv + optind + 1, argv + argc);
    return options;
}

} // namespace TessarnFuse
