// tessarn: the FUSE daemon that serves a sync folder with files on demand.
#include "serve.h"
#include "startup/console.h"
#include "startup/daemon_options.h"

#include <exception>

int main(int argc, char** argv)
{
    using namespace TessarnFuse;
    try {
        auto parsed = parseCommandLine(argc, argv);
        if (const auto* exit = std::get_if<EarlyExit>(&parsed))
            return exit->status;
        auto& options = std::get<DaemonOptions>(parsed);
        printLine("tessarnfuse starting at", options.mountPoint, ".");
        return runDaemon(std::move(options));
    } catch (const std::exception& e) {
        printError("tessarnfuse: ", e.what());
        return -1;
    }
}
