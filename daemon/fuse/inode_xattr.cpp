#include "fuse/inode_xattr.h"

#include "fuse/errno_result.h"
#include "fuse/paths.h"

#include <cerrno>
#include <linux/limits.h>
#include <sys/xattr.h>

namespace TessarnFuse::InodeXattr {

int get(int fd, const char* name, char* buffer, std::size_t size)
{
    return resultOf(::getxattr(procPath(fd).c_str(), name, buffer, size));
}

int set(int fd, const char* name, const char* value, std::size_t size, int flags)
{
    return resultOf(::setxattr(procPath(fd).c_str(), name, value, size, flags));
}

int list(int fd, char* buffer, std::size_t size)
{
    return resultOf(::listxattr(procPath(fd).c_str(), buffer, size));
}

int remove(int fd, const char* name)
{
    return resultOf(::removexattr(procPath(fd).c_str(), name));
}

std::optional<std::string> value(int fd, const char* name)
{
    // Records are small: one short read nearly always does; no value is larger than the second.
    for (const std::size_t size : {std::size_t{256}, std::size_t{XATTR_SIZE_MAX}}) {
        std::string buffer(size, '\0');
        const int length = get(fd, name, buffer.data(), buffer.size());
        if (length >= 0) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        if (length != -ERANGE)
            return std::nullopt;
    }
    return std::nullopt;
}

} // namespace TessarnFuse::InodeXattr
