#include "serve.h"

#include "client/sync_client_connection.h"
#include "fuse/served_folder.h"
#include "fuse/operation_log.h"
#include "operation_table.h"
#include "startup/console.h"
#include "startup/context.h"
#include "startup/stop_signals.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <nlohmann/json.hpp>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tessarn/tessarn.h>
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

// FUSE's daemon mode changes to "/" before it serves: the path is made absolute before that.
std::string absoluteSocketPath(const std::string& socketPath)
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(socketPath, error);
    return error ? socketPath : absolute.string();
}

void printFuseCommand(const std::vector<std::string>& fuseArguments)
{
    std::string command = "fuse command: ";
    for (const auto& argument : fuseArguments)
        command += argument + " ";
    printLine(command);
}

// A waiting open holds no worker, so libfuse's own limit of workers serves every load.
int loopOnWorkers(fuse_session* session, const fuse_cmdline_opts& cli)
{
    const std::unique_ptr<fuse_loop_config, decltype(&fuse_loop_cfg_destroy)> config(
        fuse_loop_cfg_create(), &fuse_loop_cfg_destroy);
    fuse_loop_cfg_set_clone_fd(config.get(), static_cast<unsigned>(cli.clone_fd));
    fuse_loop_cfg_set_max_threads(config.get(), cli.max_threads);
    // Unset unless asked for: libfuse would warn about its own "unset" value.
    if (cli.max_idle_threads != UINT_MAX)
        fuse_loop_cfg_set_idle_threads(config.get(), cli.max_idle_threads);
    return fuse_session_loop_mt(session, config.get());
}

// Serves the mount with the session until it is unmounted or stopped. The socket worker runs
// in the process that serves: in daemon mode that is the one the fork leaves.
int serveSession(fuse_session* session, const fuse_cmdline_opts& cli,
                 const DaemonOptions& options)
{
    if (fuse_session_mount(session, cli.mountpoint) != 0)
        return 4;
    const auto socketPath = absoluteSocketPath(options.socketPath);
    int result = 5;
    if (fuse_daemonize(cli.foreground) == 0) {
        socketThread().start(socketPath, options.configuration.hydrationTimeout);
        const int loop =
            cli.singlethread ? fuse_session_loop(session) : loopOnWorkers(session, cli);
        // Every open still waiting is answered while the session can carry the reply.
        socketThread().stop();
        result = loop == 0 ? 0 : 7;
    }
    fuse_session_unmount(session);
    return result;
}

// Every object the kernel remembers needs a descriptor when it is used, and the kernel
// remembers what was looked up until memory runs short: as far as the system lets this process
// go, then as far as its hard limit.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    rlim_t systemLimit = 0;
    std::ifstream("/proc/sys/fs/nr_open") >> systemLimit;
    const rlimit widest{systemLimit, systemLimit};
    if (systemLimit > limit.rlim_max && ::setrlimit(RLIMIT_NOFILE, &widest) == 0)
        return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

// Half of the descriptors for the objects the kernel remembers; the other half for open files
// and folders, the socket and the kernel's channel.
std::size_t descriptorBudget()
{
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    constexpr rlim_t fewest = 16;
    return static_cast<std::size_t>(std::max(limit.rlim_cur / 2, fewest));
}

int serve(DaemonOptions& options, int rootFd)
{
    printFuseCommand(options.fuseArguments);
    fuse_set_log_func(fuseLogHook);
    std::vector<char*> argv;
    for (auto& argument : options.fuseArguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()) - 1, argv.data());
    fuse_cmdline_opts cli{};
    const int parsed = fuse_parse_cmdline(&args, &cli);
    const std::unique_ptr<char, decltype(&std::free)> mountPoint(cli.mountpoint, &std::free);
    if (parsed != 0 || cli.show_help || cli.show_version) {
        if (cli.show_help)
            fuse_cmdline_help();
        if (cli.show_version)
            fuse_lowlevel_version();
        fuse_opt_free_args(&args);
        return parsed != 0 ? 1 : 0;
    }

    ServedFolder folder(rootFd, descriptorBudget(), options.configuration.cacheTimeout);
    const auto& operations = Operations::table();
    int result = 3;
    if (auto* session = fuse_session_new(&args, &operations, sizeof(operations), &folder)) {
        folder.cache.attach(session);
        installStopHandlers(session);
        result = serveSession(session, cli, options);
        withdrawStopHandlers();
        fuse_session_destroy(session);
    }
    fuse_opt_free_args(&args);
    return result;
}

} // namespace

int runDaemon(DaemonOptions options)
{
    auto context = std::make_unique<DaemonContext>(
        DaemonContext{options.mountPoint, options.ownerId, -1, options.configuration.filters,
                      options.debug, options.configuration.streamFrom});
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
        raiseDescriptorLimit();
        printLine("tessarnfuse starting: PID:", ::getpid(), ", Socket:", options.socketPath);
        result = serve(options, context->rootFd);
        printLine("tessarnfuse closing.");
    }
    publishContext(nullptr);
    ::close(context->rootFd);
    return result;
}

} // namespace TessarnFuse
