// Everything that makes a new name. What a caller creates through the mount belongs to the
// caller, not to the daemon's user.
#include "fuse/caller.h"
#include "fuse/errno_result.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TessarnFuse::Operations {

namespace {

// What mknod makes, with the name and message it logs.
int makeNode(int parentFd, const char* name, mode_t mode, dev_t device)
{
    const LogPath path(parentFd, name);
    switch (mode & S_IFMT) {
    case S_IFREG: {
        const int fd = resultOf(::openat(parentFd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        const int result = fd < 0 ? fd : resultOf(::close(fd));
        logOperation(path, "mknod", loggedValue(fd), "mknod %o S_IFREG (normal file creation)",
                     mode);
        return result;
    }
    case S_IFIFO: {
        const int result = resultOf(::mkfifoat(parentFd, name, mode));
        logOperation(path, "mkfifo", loggedValue(result), "mkfifo %o S_IFFIFO (fifo creation)",
                     mode);
        return result;
    }
    case S_IFCHR: {
        const int result = resultOf(::mknodat(parentFd, name, mode, device));
        logOperation(path, "mknod", loggedValue(result), "mknod %o (character device creation)",
                     mode);
        return result;
    }
    default: {
        const int result = resultOf(::mknodat(parentFd, name, mode, device));
        logOperation(path, "mknod", loggedValue(result), "mknod %o", mode);
        return result;
    }
    }
}

// The new object is handed to the caller and made known to the kernel. It stays even when it
// cannot be handed over, as the plain call would leave it.
void replyMade(fuse_req_t request, int parentFd, const char* name, int result)
{
    if (result < 0)
        return replyResult(request, result);
    const auto* caller = currentCaller();
    ::fchownat(parentFd, name, caller->uid, caller->gid, AT_SYMLINK_NOFOLLOW);
    fuse_entry_param entry;
    if (const int found = lookupEntry(request, parentFd, name, entry); found < 0)
        return replyResult(request, found);
    replyEntry(request, entry);
}

} // namespace

void mknod(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t mode, dev_t device)
{
    const int fd = inodeFd(request, parent);
    replyMade(request, fd, name, makeNode(fd, name, mode, device));
}

void mkdir(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t mode)
{
    const int fd = inodeFd(request, parent);
    const int result = resultOf(::mkdirat(fd, name, mode));
    logOperation(LogPath(fd, name), "mkdir", loggedValue(result), "mkdir mode %o", mode);
    replyMade(request, fd, name, result);
}

void symlink(fuse_req_t request, const char* target, fuse_ino_t parent, const char* name)
{
    const int fd = inodeFd(request, parent);
    const int result = resultOf(::symlinkat(target, fd, name));
    const LogPath path(fd, name);
    if (operationLogEnabled())
        logOperation(path, "symlink", loggedValue(result), "symlink from %s to %s", target,
                     path.text().c_str());
    replyMade(request, fd, name, result);
}

void link(fuse_req_t request, fuse_ino_t inode, fuse_ino_t newParent, const char* newName)
{
    const int fd = inodeFd(request, inode);
    const int parentFd = inodeFd(request, newParent);
    // Through the descriptor's link: the object itself, whatever name it has now.
    const int result = resultOf(
        ::linkat(AT_FDCWD, procPath(fd).c_str(), parentFd, newName, AT_SYMLINK_FOLLOW));
    const LogPath to(parentFd, newName);
    if (operationLogEnabled())
        logOperation(to, "link", loggedValue(result), "hard link from %s to %s",
                     rootRelativePath(fd).c_str(), to.text().c_str());
    // No hand-over: a hard link names an existing object, and handing that over would give
    // someone else's file to whoever linked it.
    fuse_entry_param entry;
    const int found = result < 0 ? result : lookupEntry(request, parentFd, newName, entry);
    if (found < 0)
        return replyResult(request, found);
    replyEntry(request, entry);
}

void create(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t mode,
            fuse_file_info* fi)
{
    const int parentFd = inodeFd(request, parent);
    const LogPath path(parentFd, name);
    const int fd = resultOf(::openat(parentFd, name, fi->flags | O_CLOEXEC, mode));
    if (fd < 0) {
        logOperation(path, "create", -1, "create %o", mode);
        return replyResult(request, fd);
    }
    // By the descriptor: a name can be replaced between the open and the hand-over, and a path
    // would then give away whatever was renamed onto it.
    const auto* caller = currentCaller();
    const int handOver = resultOf(::fchown(fd, caller->uid, caller->gid));
    if (handOver < 0) {
        // A file the caller could not use must not stay behind.
        const int removal = resultOf(::unlinkat(parentFd, name, 0));
        ::close(fd);
        logOperation(path, "create", -1, "set ownership after create %o", mode);
        if (removal < 0)
            logOperation(path, "create", -1, "failed to remove incomplete file: errno %d",
                         -removal);
        return replyResult(request, handOver);
    }
    logOperation(path, "create", 0, "create %o", mode);
    fuse_entry_param entry;
    if (const int found = lookupEntry(request, parentFd, name, entry); found < 0) {
        ::close(fd);
        return replyResult(request, found);
    }
    fi->fh = static_cast<uint64_t>(fd);
    auto& inodes = inodesOf(request);
    // A caller that was interrupted will never release the file nor forget its entry.
    if (fuse_reply_create(request, &entry, fi) == -ENOENT) {
        ::close(fd);
        inodes.forget(entry.ino, 1);
    }
}

} // namespace TessarnFuse::Operations
