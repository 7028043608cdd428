#include "ondemand/read.h"

#include "client/sync_client_connection.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"
#include "ondemand/waiting_read.h"

namespace TessarnFuse::Operations {

void read(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info* fi)
{
    const auto download = downloadsOf(request).streamOf(fi->fh);
    if (!download || download->state() == Download::State::Complete)
        return readFile(request, inode, size, offset, fi);
    LogPath path(inodesOf(request), inode);
    logOperation(path, "read", 0, "read %d bytes at offset %d", static_cast<int>(size),
                 static_cast<int>(offset));
    const int fd = static_cast<int>(fi->fh);
    if (download->readable(offset, size))
        return replyStreamed(request, *download, path, fd, size, offset);
    auto waiter = std::make_shared<WaitingRead>(request, download, std::move(path), fd, size,
                                                offset, *currentCaller());
    // From here on the request is the waiter's to answer.
    if (!socketThread().await(waiter))
        waiter->finished(HydrationEnd::NotQueued);
}

} // namespace TessarnFuse::Operations
