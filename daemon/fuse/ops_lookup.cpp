// Looking names up, and forgetting them again: the kernel's side of the inode table.
#include "fuse/caller.h"
#include "fuse/errno_result.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"
#include "fuse/placeholder_record.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TessarnFuse::Operations {

namespace {

// An empty file with a record is a placeholder: it shows the size of what it stands for, and so
// does a file while the client downloads it, to all but the client, which sees what it wrote.
// The kernel keeps neither: the size changes without a change the kernel sees.
int attributesOf(fuse_req_t request, int fd, struct stat& st, bool& placeholder)
{
    if (const int result = resultOf(::fstatat(fd, "", &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW));
        result < 0)
        return result;
    placeholder = false;
    if (S_ISDIR(st.st_mode))
        return 0;
    if (const auto download = downloadsOf(request).of(st)) {
        if (!fromSyncClient(request))
            st.st_size = download->size();
        placeholder = true;
    } else if (st.st_size == 0) {
        if (const auto size = placeholderSize(fd)) {
            st.st_size = *size;
            placeholder = true;
        }
    }
    return 0;
}

// A name that is not there is kept as such by the kernel as long as any other answer: a file
// made through the mount replaces it at once.
void replyMissing(fuse_req_t request)
{
    fuse_entry_param missing{};
    missing.entry_timeout = cacheOf(request).entryTimeout();
    if (missing.entry_timeout > 0)
        fuse_reply_entry(request, &missing);
    else
        fuse_reply_err(request, ENOENT);
}

} // namespace

int entryOf(fuse_req_t request, int fd, fuse_entry_param& entry)
{
    bool placeholder = false;
    if (const int result = attributesOf(request, fd, entry.attr, placeholder); result < 0)
        return result;
    cacheOf(request).setTimeouts(entry, placeholder);
    return 0;
}

int lookupEntry(fuse_req_t request, fuse_ino_t parent, int parentFd, const char* name,
                fuse_entry_param& entry)
{
    entry = {};
    auto& inodes = inodesOf(request);
    const auto namesSeen = inodes.namesVersion();
    const int fd = inodes.openObject(parentFd, name);
    if (fd < 0)
        return fd;
    if (const int result = entryOf(request, fd, entry); result < 0) {
        ::close(fd);
        return result;
    }
    entry.ino = inodes.remember(parent, name, entry.attr, fd, namesSeen);
    return 0;
}

void replyEntry(fuse_req_t request, const fuse_entry_param& entry)
{
    auto& inodes = inodesOf(request);
    // A caller that was interrupted never learns of the entry, so the kernel will not forget it.
    if (fuse_reply_entry(request, &entry) == -ENOENT)
        inodes.forget(entry.ino, 1);
}

void lookup(fuse_req_t request, fuse_ino_t parent, const char* name)
{
    withDescriptor(request, parent, [&](int directory) {
        fuse_entry_param entry;
        const int result = lookupEntry(request, parent, directory, name, entry);
        logOperation(LogPath(directory, name), "getattr", loggedValue(result),
                     "getattr inode: %ld", static_cast<long>(entry.attr.st_ino));
        if (result == -ENOENT)
            replyMissing(request);
        else if (result < 0)
            replyResult(request, result);
        else
            replyEntry(request, entry);
    });
}

void forget(fuse_req_t request, fuse_ino_t inode, uint64_t lookups) noexcept
{
    inodesOf(request).forget(inode, lookups);
    fuse_reply_none(request);
}

void forgetMulti(fuse_req_t request, size_t count, fuse_forget_data* forgets) noexcept
{
    for (size_t i = 0; i < count; ++i)
        inodesOf(request).forget(forgets[i].ino, forgets[i].nlookup);
    fuse_reply_none(request);
}

} // namespace TessarnFuse::Operations
