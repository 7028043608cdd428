// Reading, writing, flushing and closing through the descriptor that create or open stored.
#include "errno_result.h"
#include "operation_log.h"
#include "operations.h"
#include "paths.h"

#include <cstdint>
#include <unistd.h>

namespace TessarnFuse::Operations {

namespace {
int descriptorOf(const fuse_file_info* fi)
{
    return static_cast<int>(fi->fh);
}
} // namespace

int read(const char* fusePath, char* buffer, size_t size, off_t offset, fuse_file_info* fi)
{
    const auto path = rootRelativePath(fusePath);
    logOperation(path, "read", 0, "read %d bytes at offset %d", static_cast<int>(size),
                 static_cast<int>(offset));
    const int result = resultOf(::pread(descriptorOf(fi), buffer, size, offset));
    if (result < 0) {
        logOperation(path, "read", -1, "read %d bytes at offset %d", static_cast<int>(size),
                     static_cast<int>(offset));
        return result;
    }
    logOperation(path, "read", 0, "%d bytes read at offset %d", result,
                 static_cast<int>(offset));
    return result;
}

int write(const char* fusePath, const char* data, size_t size, off_t offset, fuse_file_info* fi)
{
    const auto path = rootRelativePath(fusePath);
    const auto at = static_cast<intmax_t>(offset);
    logOperation(path, "write", 0, "write %zu bytes at offset %jd", size, at);
    const int result = resultOf(::pwrite(descriptorOf(fi), data, size, offset));
    if (result < 0) {
        logOperation(path, "write", -1, "write %zu bytes at offset %jd", size, at);
        return result;
    }
    logOperation(path, "write", 0, "%d bytes written at offset %jd", result, at);
    return result;
}

int release(const char* fusePath, fuse_file_info* fi)
{
    const auto path = rootRelativePath(fusePath);
    logOperation(path, "close", 0, "%s", "");
    ::close(descriptorOf(fi));
    return 0;
}

// Reports what the flush did: an application that fsyncs must learn when its data is not safe.
int fsync(const char* fusePath, int dataSync, fuse_file_info* fi)
{
    const auto path = rootRelativePath(fusePath);
    const int fd = descriptorOf(fi);
    const int result = resultOf(dataSync ? ::fdatasync(fd) : ::fsync(fd));
    logOperation(path, "fsync", loggedValue(result), "%s", "");
    return result;
}

} // namespace TessarnFuse::Operations
