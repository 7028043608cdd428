// Attributes, permissions, times, links' targets and file-system statistics.
#include "fuse/errno_result.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <linux/limits.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace TessarnFuse::Operations {

namespace {

// getpwuid and getgrgid share static buffers between threads; the _r forms do not. A group with
// many members needs a large buffer.
template <typename Entry, typename Id>
std::optional<std::string> nameOf(int (*lookup)(Id, Entry*, char*, size_t, Entry**), Id id,
                                  char* Entry::*name)
{
    constexpr std::size_t largestBuffer = 1024 * 1024;
    for (std::size_t size = 16 * 1024; size <= largestBuffer; size *= 2) {
        Entry entry{};
        Entry* found = nullptr;
        std::vector<char> storage(size);
        const int error = lookup(id, &entry, storage.data(), storage.size(), &found);
        if (error == ERANGE)
            continue;
        if (error != 0 || !found)
            return std::nullopt;
        return std::string(entry.*name);
    }
    return std::nullopt;
}

void logChown(const LogPath& path, uid_t uid, gid_t gid, int result)
{
    if (!operationLogEnabled())
        return;
    const auto user = nameOf(&::getpwuid_r, uid, &passwd::pw_name);
    const auto group = nameOf(&::getgrgid_r, gid, &group::gr_name);
    const int id[] = {static_cast<int>(uid), static_cast<int>(gid)};
    if (user && group)
        logOperation(path, "chown", result, "chown to %d:%d %s:%s", id[0], id[1], user->c_str(),
                     group->c_str());
    else
        logOperation(path, "chown", result, "chown to %d:%d", id[0], id[1]);
}

int changeMode(int fd, const fuse_file_info* fi, mode_t mode)
{
    return resultOf(fi ? ::fchmod(static_cast<int>(fi->fh), mode)
                       : ::chmod(procPath(fd).c_str(), mode));
}

int changeSize(int fd, const fuse_file_info* fi, off_t size)
{
    return resultOf(fi ? ::ftruncate(static_cast<int>(fi->fh), size)
                       : ::truncate(procPath(fd).c_str(), size));
}

timespec timeToSet(int valid, int setBit, int nowBit, const timespec& given)
{
    if (valid & nowBit)
        return {0, UTIME_NOW};
    if (valid & setBit)
        return given;
    return {0, UTIME_OMIT};
}

int changeTimes(int fd, const fuse_file_info* fi, const struct stat& wanted, int valid)
{
    const timespec times[2] = {
        timeToSet(valid, FUSE_SET_ATTR_ATIME, FUSE_SET_ATTR_ATIME_NOW, wanted.st_atim),
        timeToSet(valid, FUSE_SET_ATTR_MTIME, FUSE_SET_ATTR_MTIME_NOW, wanted.st_mtim)};
    if (fi)
        return resultOf(::futimens(static_cast<int>(fi->fh), times));
    // Through the link the times of a symbolic link itself change, not those of its target.
    return resultOf(::utimensat(AT_FDCWD, procPath(fd).c_str(), times, 0));
}

// The changes in the order the kernel's setattr carries them, each logged as its own call; the
// first failure ends the request.
int applyAttributes(int fd, const fuse_file_info* fi, const struct stat& wanted, int valid)
{
    const LogPath path(fd);
    if (valid & FUSE_SET_ATTR_MODE) {
        const int result = changeMode(fd, fi, wanted.st_mode);
        logOperation(path, "chmod", loggedValue(result), "chmod to %o", wanted.st_mode);
        if (result < 0)
            return result;
    }
    if (valid & (FUSE_SET_ATTR_UID | FUSE_SET_ATTR_GID)) {
        const uid_t uid = (valid & FUSE_SET_ATTR_UID) ? wanted.st_uid : static_cast<uid_t>(-1);
        const gid_t gid = (valid & FUSE_SET_ATTR_GID) ? wanted.st_gid : static_cast<gid_t>(-1);
        const int result =
            resultOf(::fchownat(fd, "", uid, gid, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW));
        logChown(path, uid, gid, result);
        if (result < 0)
            return result;
    }
    if (valid & FUSE_SET_ATTR_SIZE) {
        const int result = changeSize(fd, fi, wanted.st_size);
        logOperation(path, "truncate", loggedValue(result), "truncate to %d bytes",
                     static_cast<int>(wanted.st_size));
        if (result < 0)
            return result;
    }
    if (valid & (FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME)) {
        const int result = changeTimes(fd, fi, wanted, valid);
        logOperation(path, "utimens", loggedValue(result), "%s", "");
        if (result < 0)
            return result;
    }
    return 0;
}

void replyAttributes(fuse_req_t request, int fd)
{
    fuse_entry_param shown{};
    const int result = entryOf(request, fd, shown);
    logOperation(LogPath(fd), "getattr", loggedValue(result), "getattr inode: %ld",
                 static_cast<long>(shown.attr.st_ino));
    if (result < 0)
        replyResult(request, result);
    else
        fuse_reply_attr(request, &shown.attr, shown.attr_timeout);
}

} // namespace

void getattr(fuse_req_t request, fuse_ino_t inode, fuse_file_info*)
{
    withDescriptor(request, inode, [&](int fd) { replyAttributes(request, fd); });
}

void setattr(fuse_req_t request, fuse_ino_t inode, struct stat* attributes, int valid,
             fuse_file_info* fi)
{
    withDescriptor(request, inode, [&](int fd) {
        const int result = applyAttributes(fd, fi, *attributes, valid);
        if (result < 0)
            return replyResult(request, result);
        contentChanged(request, inode, fd);
        replyAttributes(request, fd);
    });
}

void readlink(fuse_req_t request, fuse_ino_t inode)
{
    withDescriptor(request, inode, [&](int fd) {
        char target[PATH_MAX + 1];
        int result = resultOf(::readlinkat(fd, "", target, sizeof(target)));
        if (result == static_cast<int>(sizeof(target)))
            result = -ENAMETOOLONG;
        logOperation(LogPath(fd), "readlink", loggedValue(result), "readlink");
        if (result < 0)
            return replyResult(request, result);
        target[result] = '\0';
        fuse_reply_readlink(request, target);
    });
}

void access(fuse_req_t request, fuse_ino_t inode, int mask)
{
    withDescriptor(request, inode, [&](int fd) {
        const int result = resultOf(::access(procPath(fd).c_str(), mask));
        logOperation(LogPath(fd), "access", loggedValue(result), "%s", "");
        replyResult(request, result);
    });
}

void statfs(fuse_req_t request, fuse_ino_t inode)
{
    withDescriptor(request, inode, [&](int fd) {
        struct statvfs buffer {};
        const int result = resultOf(::fstatvfs(fd, &buffer));
        logOperation(LogPath(fd), "statfs", loggedValue(result), "%s", "");
        if (result < 0)
            replyResult(request, result);
        else
            fuse_reply_statfs(request, &buffer);
    });
}

} // namespace TessarnFuse::Operations
