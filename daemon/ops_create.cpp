// Everything that makes a new name. What a caller creates through the mount belongs to the
// caller, not to the daemon's user.
#include "errno_result.h"
#include "operation_log.h"
#include "operations.h"
#include "paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TessarnFuse::Operations {

namespace {

int handOverOwnership(const std::string& path)
{
    const auto* caller = fuse_get_context();
    return resultOf(::lchown(path.c_str(), caller->uid, caller->gid));
}

// What mknod makes, with the name and message it logs.
int makeNode(const std::string& path, mode_t mode, dev_t device)
{
    switch (mode & S_IFMT) {
    case S_IFREG: {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
        const int result = fd < 0 ? resultOf(fd) : resultOf(::close(fd));
        logOperation(path, "mknod", loggedValue(fd), "mknod %o S_IFREG (normal file creation)",
                     mode);
        return result;
    }
    case S_IFIFO: {
        const int result = resultOf(::mkfifo(path.c_str(), mode));
        logOperation(path, "mkfifo", loggedValue(result), "mkfifo %o S_IFFIFO (fifo creation)",
                     mode);
        return result;
    }
    case S_IFCHR: {
        const int result = resultOf(::mknod(path.c_str(), mode, device));
        logOperation(path, "mknod", loggedValue(result), "mknod %o (character device creation)",
                     mode);
        return result;
    }
    default: {
        const int result = resultOf(::mknod(path.c_str(), mode, device));
        logOperation(path, "mknod", loggedValue(result), "mknod %o", mode);
        return result;
    }
    }
}

// The new object stays even when it cannot be handed over, as the plain call would leave it.
int handedOver(const std::string& path, int result)
{
    if (result == 0)
        handOverOwnership(path);
    return result;
}

} // namespace

int create(const char* fusePath, mode_t mode, fuse_file_info* fi)
{
    const auto path = rootRelativePath(fusePath);
    const int fd = resultOf(::open(path.c_str(), fi->flags, mode));
    if (fd < 0) {
        logOperation(path, "create", -1, "create %o", mode);
        return fd;
    }
    // By the descriptor: a name can be replaced between the open and the hand-over, and a path
    // would then give away whatever was renamed onto it.
    const auto* caller = fuse_get_context();
    const int handOver = resultOf(::fchown(fd, caller->uid, caller->gid));
    if (handOver < 0) {
        // A file the caller could not use must not stay behind.
        const int removal = resultOf(::unlink(path.c_str()));
        ::close(fd);
        logOperation(path, "create", -1, "set ownership after create %o", mode);
        if (removal < 0)
            logOperation(path, "create", -1, "failed to remove incomplete file: errno %d",
                         -removal);
        return handOver;
    }
    logOperation(path, "create", 0, "create %o", mode);
    fi->fh = static_cast<uint64_t>(fd);
    return 0;
}

int mknod(const char* fusePath, mode_t mode, dev_t device)
{
    const auto path = rootRelativePath(fusePath);
    return handedOver(path, makeNode(path, mode, device));
}

int mkdir(const char* fusePath, mode_t mode)
{
    const auto path = rootRelativePath(fusePath);
    const int result = resultOf(::mkdir(path.c_str(), mode));
    logOperation(path, "mkdir", loggedValue(result), "mkdir mode %o", mode);
    return handedOver(path, result);
}

int symlink(const char* target, const char* fusePath)
{
    const auto path = rootRelativePath(fusePath);
    const int result = resultOf(::symlink(target, path.c_str()));
    logOperation(path, "symlink", loggedValue(result), "symlink from %s to %s", target,
                 path.c_str());
    return handedOver(path, result);
}

int link(const char* fusePathFrom, const char* fusePathTo)
{
    const auto from = rootRelativePath(fusePathFrom);
    const auto to = rootRelativePath(fusePathTo);
    const int result = resultOf(::link(from.c_str(), to.c_str()));
    logOperation(to, "link", loggedValue(result), "hard link from %s to %s", from.c_str(),
                 to.c_str());
    // No hand-over: a hard link names an existing object, and handing that over would give
    // someone else's file to whoever linked it.
    return result;
}

} // namespace TessarnFuse::Operations
