#include "operation_table.h"

#include "fuse/caller.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"
#include "fuse/served_folder.h"
#include "ondemand/open.h"
#include "ondemand/read.h"
#include "startup/console.h"

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

// Names the caller for what the operation logs, and lets no exception reach libfuse's C code:
// it becomes the operation's failure and a line on standard error.
template <auto operation>
struct Guarded;

template <typename... Arguments, void (*operation)(fuse_req_t, Arguments...)>
struct Guarded<operation> {
    static void call(fuse_req_t request, Arguments... arguments) noexcept
    {
        const auto caller = callerOf(request);
        const ServingCaller serving(caller);
        try {
            operation(request, arguments...);
        } catch (...) {
            reportEscaped();
            fuse_reply_err(request, EIO);
        }
    }
};

void guardedInit(void* data, fuse_conn_info* connection) noexcept
{
    try {
        init(data, connection);
    } catch (...) {
        reportEscaped();
    }
}

// Every slot not set here stays empty, so FUSE's defaults apply to it.
fuse_lowlevel_ops makeTable()
{
    fuse_lowlevel_ops table{};
    table.init = guardedInit;
    table.lookup = Guarded<lookup>::call;
    table.forget = forget;
    table.forget_multi = forgetMulti;
    table.getattr = Guarded<getattr>::call;
    table.setattr = Guarded<setattr>::call;
    table.readlink = Guarded<readlink>::call;
    table.mknod = Guarded<mknod>::call;
    table.mkdir = Guarded<mkdir>::call;
    table.unlink = Guarded<unlink>::call;
    table.rmdir = Guarded<rmdir>::call;
    table.symlink = Guarded<symlink>::call;
    table.rename = Guarded<rename>::call;
    table.link = Guarded<link>::call;
    table.open = Guarded<open>::call;
    table.read = Guarded<read>::call;
    table.write_buf = Guarded<writeBuffer>::call;
    table.release = Guarded<release>::call;
    table.fsync = Guarded<fsync>::call;
    table.opendir = Guarded<opendir>::call;
    table.readdir = Guarded<readdir>::call;
    table.readdirplus = Guarded<readdirplus>::call;
    table.releasedir = Guarded<releasedir>::call;
    table.statfs = Guarded<statfs>::call;
    table.setxattr = Guarded<setxattr>::call;
    table.getxattr = Guarded<getxattr>::call;
    table.listxattr = Guarded<listxattr>::call;
    table.removexattr = Guarded<removexattr>::call;
    table.access = Guarded<access>::call;
    table.create = Guarded<create>::call;
    return table;
}

const fuse_lowlevel_ops operationTable = makeTable();

} // namespace

void init(void* data, fuse_conn_info* connection)
{
    // The kernel's own request: nobody's process.
    const Caller kernel;
    const ServingCaller serving(kernel);
    logOperation(LogPath("/path"), "_init", 1, "**** INIT called");
    const auto& cache = static_cast<const ServedFolder*>(data)->cache;
    // Contents move between the files and the kernel by splice where it can, never through
    // the daemon's memory.
    connection->want |= connection->capable &
                        (FUSE_CAP_SPLICE_WRITE | FUSE_CAP_SPLICE_MOVE | FUSE_CAP_SPLICE_READ);
    // A listing with each entry's attributes saves a look-up per name only if the kernel may
    // keep what it learns.
    if (!cache.enabled())
        connection->want &= ~(FUSE_CAP_READDIRPLUS | FUSE_CAP_READDIRPLUS_AUTO);
    // A file's pages stay when its modification time changes: most changes are the kernel's own
    // writes, and the open of a file changed behind the mount drops them.
    else
        connection->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
}

const fuse_lowlevel_ops& table()
{
    return operationTable;
}

} // namespace TessarnFuse::Operations
