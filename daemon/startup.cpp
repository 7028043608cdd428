#include "startup.h"

#include "console.h"
#include "context.h"
#include "instances.h"
#include "operation_log.h"
#include "operations.h"
#include "stop_signals.h"
#include "worker_pool.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <sys/stat.h>
#include <tessarn.h>
#include <unistd.h>

namespace TessarnFuse {

namespace {

// The folder must be claimed by the owner this daemon serves.
bool ownedByUs(const DaemonContext& context)
{
    try {
        const auto registration = Tessarn::Registration::fromAttributes(context.mountPoint);
        if (!registration.error().empty()) {
            printError("No registration info found for mount point ", context.mountPoint, " ",
                       registration.error());
            return false;
        }
        if (registration.owner() != context.ownerId) {
            printError("Mount point ", context.mountPoint, " is not owned by ", context.ownerId);
            return false;
        }
        return true;
    } catch (const nlohmann::json::exception& e) {
        printError("Cannot decode the registration of mount point ", context.mountPoint, ": ",
                   e.what());
        return false;
    }
}

// The socket worker starts at init, in the process that serves: without -f, FUSE forks into the
// background before it serves, and a fork keeps only the calling thread. FUSE also changes to "/"
// before that, so the path is kept absolute.
std::optional<std::string> socketPathToServe;

std::string absoluteSocketPath(const std::string& socketPath)
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(socketPath, error);
    return error ? socketPath : absolute.string();
}

int serve(std::vector<std::string>& fuseArguments)
{
    std::string command = "fuse command: ";
    for (const auto& argument : fuseArguments)
        command += argument + " ";
    printLine(command);

    fuse_set_log_func(fuseLogHook);
    installStopHandlers();
    std::vector<char*> argv;
    for (auto& argument : fuseArguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const auto& operations = Operations::table();
    return fuse_main_real(static_cast<int>(argv.size()) - 1, argv.data(), &operations,
                          sizeof(operations), nullptr);
}

} // namespace

void startSocketThread()
{
    if (socketPathToServe)
        socketThread().start(*socketPathToServe);
}

int runDaemon(DaemonOptions options)
{
    auto context = std::make_unique<DaemonContext>(
        DaemonContext{options.mountPoint, options.ownerId, -1, options.filters, options.debug,
                      maxWaitingOpens(effectiveMaxThreads(options.fuseArguments))});
    // Opened before the mount hides it: afterwards this is the only way to the folder.
    // Close-on-exec: FUSE's unmount helper lives as long as the mount and must not hold it.
    context->rootFd = ::open(context->mountPoint.c_str(), O_RDONLY | O_CLOEXEC);
    if (context->rootFd < 0) {
        const int error = errno;
        printError("Cannot open the mount point ", context->mountPoint, ": ", std::strerror(error));
        return -1;
    }
    publishContext(context.get());

    int result = -1;
    if (ownedByUs(*context)) {
        // Created files and directories get exactly the mode the kernel passes.
        ::umask(0);
        socketPathToServe = absoluteSocketPath(options.socketPath);
        printLine("tessarnfuse starting: PID:", ::getpid(), ", Socket:", options.socketPath);
        result = serve(options.fuseArguments);
        printLine("tessarnfuse closing.");
    }
    publishContext(nullptr);
    ::close(context->rootFd);
    return result;
}

} // namespace TessarnFuse
