// The one operation table handed to FUSE.
#include "operations.h"

#include "console.h"
#include "operation_log.h"
#include "startup.h"
#include "stop_signals.h"

#include <cerrno>
#include <exception>

namespace TessarnFuse::Operations {

namespace {

// From a catch block: the exception that reached the boundary, as a line on standard error.
void reportEscaped() noexcept
{
    try {
        throw;
    } catch (const std::exception& e) {
        printError("FUSE operation failed: ", e.what());
    } catch (...) {
        printError("FUSE operation failed with an unknown exception");
    }
}

// No exception may reach libfuse's C code: it becomes the operation's failure and a line on
// standard error.
template <auto operation>
struct Guarded;

template <typename... Arguments, int (*operation)(Arguments...)>
struct Guarded<operation> {
    static int call(Arguments... arguments) noexcept
    {
        try {
            return operation(arguments...);
        } catch (...) {
            reportEscaped();
        }
        return -EIO;
    }
};

void* guardedInit(fuse_conn_info* connection, fuse_config* config) noexcept
{
    try {
        return init(connection, config);
    } catch (...) {
        reportEscaped();
        return nullptr;
    }
}

// Serves no request: FUSE calls it just before it frees the served file system, the last moment
// to keep a stop signal from reaching that.
void destroy(void*) noexcept
{
    stopServingFilesystem();
}

// Every slot not set here stays empty, so FUSE's defaults apply to it.
fuse_operations makeTable()
{
    fuse_operations table{};
    table.getattr = Guarded<getattr>::call;
    table.readlink = Guarded<readlink>::call;
    table.mknod = Guarded<mknod>::call;
    table.mkdir = Guarded<mkdir>::call;
    table.unlink = Guarded<unlink>::call;
    table.rmdir = Guarded<rmdir>::call;
    table.symlink = Guarded<symlink>::call;
    table.rename = Guarded<rename>::call;
    table.link = Guarded<link>::call;
    table.chmod = Guarded<chmod>::call;
    table.chown = Guarded<chown>::call;
    table.truncate = Guarded<truncate>::call;
    table.open = Guarded<open>::call;
    table.read = Guarded<read>::call;
    table.write = Guarded<write>::call;
    table.statfs = Guarded<statfs>::call;
    table.release = Guarded<release>::call;
    table.fsync = Guarded<fsync>::call;
    table.setxattr = Guarded<setxattr>::call;
    table.getxattr = Guarded<getxattr>::call;
    table.listxattr = Guarded<listxattr>::call;
    table.removexattr = Guarded<removexattr>::call;
    table.readdir = Guarded<readdir>::call;
    table.init = guardedInit;
    table.access = Guarded<access>::call;
    table.create = Guarded<create>::call;
    table.utimens = Guarded<utimens>::call;
    table.destroy = destroy;
    return table;
}

const fuse_operations operationTable = makeTable();

} // namespace

void* init(fuse_conn_info*, fuse_config* config)
{
    // The inode numbers of the files underneath are the ones applications see; first, so that
    // nothing that fails below can leave it unset.
    config->use_ino = 1;
    logOperation("/path", "_init", 1, "**** INIT called");
    serveUntilStopped(fuse_get_context()->fuse);
    startSocketThread();
    return nullptr;
}

const fuse_operations& table()
{
    return operationTable;
}

} // namespace TessarnFuse::Operations
