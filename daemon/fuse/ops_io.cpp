// Reading, writing, flushing and closing through the descriptor that create or open stored.
#include "fuse/errno_result.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"

#include <cstdint>
#include <unistd.h>
#include <vector>

namespace TessarnFuse::Operations {

namespace {
int descriptorOf(const fuse_file_info* fi)
{
    return static_cast<int>(fi->fh);
}

} // namespace

void read(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, fuse_file_info* fi)
{
    const LogPath path(inodesOf(request), inode);
    logOperation(path, "read", 0, "read %d bytes at offset %d", static_cast<int>(size),
                 static_cast<int>(offset));
    // One buffer per worker, grown to the largest read it served.
    thread_local std::vector<char> buffer;
    if (buffer.size() < size)
        buffer.resize(size);
    const int result = resultOf(::pread(descriptorOf(fi), buffer.data(), size, offset));
    if (result < 0) {
        logOperation(path, "read", -1, "read %d bytes at offset %d", static_cast<int>(size),
                     static_cast<int>(offset));
        return replyResult(request, result);
    }
    logOperation(path, "read", 0, "%d bytes read at offset %d", result,
                 static_cast<int>(offset));
    fuse_reply_buf(request, buffer.data(), static_cast<size_t>(result));
}

void write(fuse_req_t request, fuse_ino_t inode, const char* data, size_t size, off_t offset,
           fuse_file_info* fi)
{
    const LogPath path(inodesOf(request), inode);
    const auto at = static_cast<intmax_t>(offset);
    logOperation(path, "write", 0, "write %zu bytes at offset %jd", size, at);
    const int result = resultOf(::pwrite(descriptorOf(fi), data, size, offset));
    if (result < 0) {
        logOperation(path, "write", -1, "write %zu bytes at offset %jd", size, at);
        return replyResult(request, result);
    }
    logOperation(path, "write", 0, "%d bytes written at offset %jd", result, at);
    fuse_reply_write(request, static_cast<size_t>(result));
}

void release(fuse_req_t request, fuse_ino_t inode, fuse_file_info* fi)
{
    logOperation(LogPath(inodesOf(request), inode), "close", 0, "%s", "");
    ::close(descriptorOf(fi));
    fuse_reply_err(request, 0);
}

// Reports what the flush did: an application that fsyncs must learn when its data is not safe.
void fsync(fuse_req_t request, fuse_ino_t inode, int dataSync, fuse_file_info* fi)
{
    const int fd = descriptorOf(fi);
    const int result = resultOf(dataSync ? ::fdatasync(fd) : ::fsync(fd));
    logOperation(LogPath(inodesOf(request), inode), "fsync", loggedValue(result), "%s", "");
    replyResult(request, result);
}

} // namespace TessarnFuse::Operations
