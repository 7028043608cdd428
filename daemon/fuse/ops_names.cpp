// Removing and renaming names, through the inode table, which keeps its names true.
#include "fuse/errno_result.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"

#include <fcntl.h>

namespace TessarnFuse::Operations {

namespace {

void removeName(fuse_req_t request, fuse_ino_t parent, const char* name, int flags,
                const char* operation)
{
    withDescriptor(request, parent, [&](int fd) {
        const int result = inodesOf(request).unlink(parent, fd, name, flags);
        logOperation(LogPath(fd, name), operation, loggedValue(result), "%s", "");
        replyResult(request, result);
    });
}

} // namespace

void unlink(fuse_req_t request, fuse_ino_t parent, const char* name)
{
    removeName(request, parent, name, 0, "unlink");
}

void rmdir(fuse_req_t request, fuse_ino_t parent, const char* name)
{
    removeName(request, parent, name, AT_REMOVEDIR, "rmdir");
}

// The flags are honoured: RENAME_NOREPLACE must never overwrite, RENAME_EXCHANGE must swap.
void rename(fuse_req_t request, fuse_ino_t parent, const char* name, fuse_ino_t newParent,
            const char* newName, unsigned int flags)
{
    const auto from = descriptorOf(request, parent);
    const auto to = descriptorOf(request, newParent);
    if (!from || !to)
        return replyResult(request, from ? to.error() : from.error());
    const int result =
        inodesOf(request).rename(parent, from.fd(), name, newParent, to.fd(), newName, flags);
    if (operationLogEnabled()) {
        const LogPath path(from.fd(), name);
        logOperation(path, "rename", loggedValue(result), "rename %s to %s", path.text().c_str(),
                     rootRelativePath(to.fd(), newName).c_str());
    }
    replyResult(request, result);
}

} // namespace TessarnFuse::Operations
