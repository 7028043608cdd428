// Everything that makes a new name. What a caller creates through the mount belongs to the
// caller, not to the daemon's user, from its first instant. A call makes its object and makes it
// known to the kernel, or it changes nothing.
#include "fuse/acting_as_caller.h"
#include "fuse/errno_result.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TessarnFuse::Operations {

namespace {

// What mknod makes.
int makeNode(int parentFd, const char* name, mode_t mode, dev_t device)
{
    switch (mode & S_IFMT) {
    case S_IFREG: {
        const int fd =
            resultOf(::openat(parentFd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        return fd < 0 ? fd : resultOf(::close(fd));
    }
    case S_IFIFO:
        return resultOf(::mkfifoat(parentFd, name, mode));
    default:
        return resultOf(::mknodat(parentFd, name, mode, device));
    }
}

void logNode(const LogPath& path, mode_t mode, int result)
{
    switch (mode & S_IFMT) {
    case S_IFREG:
        return logOperation(path, "mknod", loggedValue(result),
                            "mknod %o S_IFREG (normal file creation)", mode);
    case S_IFIFO:
        return logOperation(path, "mkfifo", loggedValue(result),
                            "mkfifo %o S_IFFIFO (fifo creation)", mode);
    case S_IFCHR:
        return logOperation(path, "mknod", loggedValue(result),
                            "mknod %o (character device creation)", mode);
    default:
        return logOperation(path, "mknod", loggedValue(result), "mknod %o", mode);
    }
}

// The call, made as the caller: its result, or why the daemon may not act as the caller.
template <typename Make>
int madeAsCaller(fuse_req_t request, Make&& make)
{
    const ActingAsCaller caller(request);
    return caller.result() < 0 ? caller.result() : make();
}

// Removes a name that a call made, unless it names another object by now.
void unmake(int parentFd, const char* name, const struct stat& made)
{
    struct stat now {};
    if (::fstatat(parentFd, name, &now, AT_SYMLINK_NOFOLLOW) != 0 || now.st_dev != made.st_dev ||
        now.st_ino != made.st_ino)
        return;
    ::unlinkat(parentFd, name, S_ISDIR(made.st_mode) ? AT_REMOVEDIR : 0);
}

// Makes the object known to the kernel under its new name; should that fail, the name goes.
fuse_ino_t rememberMade(fuse_req_t request, fuse_ino_t parent, int parentFd, const char* name,
                        const struct stat& made, std::uint64_t namesSeen)
{
    try {
        return inodesOf(request).remember(parent, name, made, -1, namesSeen);
    } catch (...) {
        unmake(parentFd, name, made);
        throw;
    }
}

// Answers a call that made an object under name, or failed with result.
void replyMade(fuse_req_t request, fuse_ino_t parent, int parentFd, const char* name, int result,
               std::uint64_t namesSeen)
{
    if (result < 0)
        return replyResult(request, result);
    fuse_entry_param entry{};
    if (const int found = resultOf(::fstatat(parentFd, name, &entry.attr, AT_SYMLINK_NOFOLLOW));
        found < 0)
        return replyResult(request, found); // taken away already, by someone underneath
    cacheOf(request).setTimeouts(entry, false);
    entry.ino = rememberMade(request, parent, parentFd, name, entry.attr, namesSeen);
    replyEntry(request, entry);
}

} // namespace

void mknod(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t mode, dev_t device)
{
    withDescriptor(request, parent, [&](int fd) {
        const auto namesSeen = inodesOf(request).namesVersion();
        const int result =
            madeAsCaller(request, [&] { return makeNode(fd, name, mode, device); });
        logNode(LogPath(fd, name), mode, result);
        replyMade(request, parent, fd, name, result, namesSeen);
    });
}

void mkdir(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t mode)
{
    withDescriptor(request, parent, [&](int fd) {
        const auto namesSeen = inodesOf(request).namesVersion();
        const int result = madeAsCaller(request, [&] { return resultOf(::mkdirat(fd, name, mode)); });
        logOperation(LogPath(fd, name), "mkdir", loggedValue(result), "mkdir mode %o", mode);
        replyMade(request, parent, fd, name, result, namesSeen);
    });
}

void symlink(fuse_req_t request, const char* target, fuse_ino_t parent, const char* name)
{
    withDescriptor(request, parent, [&](int fd) {
        const auto namesSeen = inodesOf(request).namesVersion();
        const int result =
            madeAsCaller(request, [&] { return resultOf(::symlinkat(target, fd, name)); });
        const LogPath path(fd, name);
        if (operationLogEnabled())
            logOperation(path, "symlink", loggedValue(result), "symlink from %s to %s", target,
                         path.text().c_str());
        replyMade(request, parent, fd, name, result, namesSeen);
    });
}

// No hand-over: a hard link names an existing object, and handing that over would give someone
// else's file to whoever linked it.
void link(fuse_req_t request, fuse_ino_t inode, fuse_ino_t newParent, const char* newName)
{
    const auto fd = descriptorOf(request, inode);
    const auto parentFd = descriptorOf(request, newParent);
    if (!fd || !parentFd)
        return replyResult(request, fd ? parentFd.error() : fd.error());
    const auto namesSeen = inodesOf(request).namesVersion();
    // Through the descriptor's link: the object itself, whatever name it has now.
    const int result = resultOf(::linkat(AT_FDCWD, procPath(fd.fd()).c_str(), parentFd.fd(),
                                         newName, AT_SYMLINK_FOLLOW));
    const LogPath to(parentFd.fd(), newName);
    if (operationLogEnabled())
        logOperation(to, "link", loggedValue(result), "hard link from %s to %s",
                     rootRelativePath(fd.fd()).c_str(), to.text().c_str());
    fuse_entry_param entry{};
    const int found = result < 0 ? result : entryOf(request, fd.fd(), entry);
    if (found < 0)
        return replyResult(request, found);
    entry.ino = rememberMade(request, newParent, parentFd.fd(), newName, entry.attr, namesSeen);
    replyEntry(request, entry);
}

void create(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t mode,
            fuse_file_info* fi)
{
    withDescriptor(request, parent, [&](int parentFd) {
        const auto namesSeen = inodesOf(request).namesVersion();
        const int fd = madeAsCaller(request, [&] {
            return resultOf(::openat(parentFd, name, fi->flags | O_CLOEXEC, mode));
        });
        logOperation(LogPath(parentFd, name), "create", loggedValue(fd), "create %o", mode);
        if (fd < 0)
            return replyResult(request, fd);
        fuse_entry_param entry{};
        ::fstat(fd, &entry.attr);
        cacheOf(request).setTimeouts(entry, false);
        try {
            entry.ino = inodesOf(request).remember(parent, name, entry.attr, -1, namesSeen);
        } catch (...) {
            ::close(fd);
            // Without O_EXCL the file may have been there before.
            if (fi->flags & O_EXCL)
                unmake(parentFd, name, entry.attr);
            throw;
        }
        contentChanged(request, entry.ino, fd);
        fi->fh = static_cast<uint64_t>(fd);
        fi->keep_cache = cacheOf(request).enabled();
        // A caller that was interrupted will never release the file nor forget its entry.
        if (fuse_reply_create(request, &entry, fi) == -ENOENT) {
            ::close(fd);
            inodesOf(request).forget(entry.ino, 1);
        }
    });
}

} // namespace TessarnFuse::Operations
