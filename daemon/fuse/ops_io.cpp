// Reading, writing, flushing and closing through the descriptor that create or open stored.
#include "fuse/caller.h"
#include "fuse/errno_result.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"

#include <cerrno>
#include <cstdint>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace TessarnFuse::Operations {

namespace {
int descriptorOf(const fuse_file_info* fi)
{
    return static_cast<int>(fi->fh);
}

// The file's bytes as they are, the descriptor's position untouched.
fuse_bufvec fileBytes(int fd, size_t size, off_t offset)
{
    fuse_bufvec bytes = FUSE_BUFVEC_INIT(size);
    bytes.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
    bytes.buf[0].fd = fd;
    bytes.buf[0].pos = offset;
    return bytes;
}

// Through the daemon's memory, to log how many bytes came, or to be sure that all came.
void readCounted(fuse_req_t request, const LogPath& path, int fd, size_t size, off_t offset,
                 bool exact)
{
    // One buffer per worker, grown to the largest read it served.
    thread_local std::vector<char> buffer;
    if (buffer.size() < size)
        buffer.resize(size);
    int result = resultOf(::pread(fd, buffer.data(), size, offset));
    // The file lost bytes it had: a download that failed was emptied under the reader.
    if (exact && result >= 0 && static_cast<size_t>(result) < size)
        result = -EIO;
    if (result < 0) {
        logOperation(path, "read", -1, "read %d bytes at offset %d", static_cast<int>(size),
                     static_cast<int>(offset));
        return replyResult(request, result);
    }
    logOperation(path, "read", 0, "%d bytes read at offset %d", result,
                 static_cast<int>(offset));
    fuse_reply_buf(request, buffer.data(), static_cast<size_t>(result));
}

} // namespace

std::optional<struct stat> contentChanged(fuse_req_t request, fuse_ino_t inode, int fd)
{
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return std::nullopt;
    inodesOf(request).contentChanged(inode, now);
    return now;
}

bool keepsPages(fuse_req_t request, fuse_ino_t inode, int fd)
{
    const auto& cache = cacheOf(request);
    struct stat now {};
    if (!cache.enabled() || ::fstat(fd, &now) != 0)
        return false;
    if (inodesOf(request).contentUnchanged(inode, now))
        return true;
    cache.forgetAttributes(inode);
    return false;
}

void readFile(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
              fuse_file_info* fi)
{
    const LogPath path(inodesOf(request), inode);
    logOperation(path, "read", 0, "read %d bytes at offset %d", static_cast<int>(size),
                 static_cast<int>(offset));
    replyBytes(request, path, descriptorOf(fi), size, offset, false);
}

// Unlogged, the bytes go from the file to the kernel by splice, never through the daemon.
void replyBytes(fuse_req_t request, const LogPath& path, int fd, size_t size, off_t offset,
                bool exact)
{
    if (operationLogEnabled() || exact)
        return readCounted(request, path, fd, size, offset, exact);
    auto bytes = fileBytes(fd, size, offset);
    fuse_reply_data(request, &bytes, FUSE_BUF_SPLICE_MOVE);
}

// The data comes as the kernel handed it, in memory or in a pipe to splice from.
void writeBuffer(fuse_req_t request, fuse_ino_t inode, fuse_bufvec* data, off_t offset,
                 fuse_file_info* fi)
{
    const LogPath path(inodesOf(request), inode);
    const auto size = fuse_buf_size(data);
    const auto at = static_cast<intmax_t>(offset);
    logOperation(path, "write", 0, "write %zu bytes at offset %jd", size, at);
    auto file = fileBytes(descriptorOf(fi), size, offset);
    const auto written = fuse_buf_copy(&file, data, FUSE_BUF_SPLICE_MOVE);
    if (written < 0) {
        logOperation(path, "write", -1, "write %zu bytes at offset %jd", size, at);
        return replyResult(request, static_cast<int>(written));
    }
    logOperation(path, "write", 0, "%d bytes written at offset %jd", static_cast<int>(written),
                 at);
    // Whatever the client writes into a file it downloads has arrived once it is there.
    const auto now = contentChanged(request, inode, descriptorOf(fi));
    if (now && downloadsOf(request).running())
        downloadsOf(request).written(*now, offset, static_cast<size_t>(written),
                                     fromSyncClient(request));
    fuse_reply_write(request, static_cast<size_t>(written));
}

void release(fuse_req_t request, fuse_ino_t inode, fuse_file_info* fi)
{
    logOperation(LogPath(inodesOf(request), inode), "close", 0, "%s", "");
    downloadsOf(request).closed(fi->fh);
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
