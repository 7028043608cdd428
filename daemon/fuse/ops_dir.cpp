// Directory listing, and removing and renaming names.
#include "fuse/errno_result.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"

#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace TessarnFuse::Operations {

namespace {

// An open listing: the kernel reads it in pieces, each from where the last one ended.
struct Listing {
    DIR* directory;
    dirent* pending = nullptr; // read, but it did not fit the last piece
    off_t offset = 0;
};

Listing* listingOf(const fuse_file_info* fi)
{
    return reinterpret_cast<Listing*>(static_cast<std::uintptr_t>(fi->fh));
}

DIR* openDirectory(int fd)
{
    const int listed = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0)
        return nullptr;
    DIR* directory = ::fdopendir(listed);
    if (!directory)
        ::close(listed);
    return directory;
}

} // namespace

void opendir(fuse_req_t request, fuse_ino_t inode, fuse_file_info* fi)
{
    withDescriptor(request, inode, [&](int fd) {
        DIR* directory = openDirectory(fd);
        const int result = directory ? 0 : -errno;
        logOperation(LogPath(fd), "readdir", loggedValue(result), "%s", "");
        if (!directory)
            return replyResult(request, result);
        fi->fh = reinterpret_cast<std::uintptr_t>(new Listing{directory});
        if (fuse_reply_open(request, fi) == -ENOENT) {
            ::closedir(directory);
            delete listingOf(fi);
        }
    });
}

void readdir(fuse_req_t request, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi)
{
    auto& listing = *listingOf(fi);
    if (offset != listing.offset) {
        ::seekdir(listing.directory, offset);
        listing.pending = nullptr;
        listing.offset = offset;
    }
    std::vector<char> buffer(size);
    size_t used = 0;
    for (;;) {
        if (!listing.pending) {
            errno = 0;
            listing.pending = ::readdir(listing.directory);
            if (!listing.pending && errno != 0 && used == 0)
                return replyResult(request, -errno);
            if (!listing.pending)
                break;
        }
        struct stat st {};
        st.st_ino = listing.pending->d_ino;
        st.st_mode = static_cast<mode_t>(listing.pending->d_type) << 12;
        const auto next = listing.pending->d_off;
        const auto needed = fuse_add_direntry(request, buffer.data() + used, size - used,
                                              listing.pending->d_name, &st, next);
        if (needed > size - used)
            break;
        used += needed;
        listing.pending = nullptr;
        listing.offset = next;
    }
    fuse_reply_buf(request, buffer.data(), used);
}

void releasedir(fuse_req_t request, fuse_ino_t, fuse_file_info* fi)
{
    const std::unique_ptr<Listing> listing(listingOf(fi));
    ::closedir(listing->directory);
    fuse_reply_err(request, 0);
}

namespace {

void removeName(fuse_req_t request, fuse_ino_t parent, const char* name, int flags,
                const char* operation)
{
    withDescriptor(request, parent, [&](int fd) {
        const int result = inodesOf(request).unlink(parent, fd, name, flags);
        logOperation(LogPath(fd, name), operation, loggedValue(result), "%s", "");
        replyResult(request, result);
    });
}

} // namespace

void unlink(fuse_req_t request, fuse_ino_t parent, const char* name)
{
    removeName(request, parent, name, 0, "unlink");
}

void rmdir(fuse_req_t request, fuse_ino_t parent, const char* name)
{
    removeName(request, parent, name, AT_REMOVEDIR, "rmdir");
}

// The flags are honoured: RENAME_NOREPLACE must never overwrite, RENAME_EXCHANGE must swap.
void rename(fuse_req_t request, fuse_ino_t parent, const char* name, fuse_ino_t newParent,
            const char* newName, unsigned int flags)
{
    const auto from = descriptorOf(request, parent);
    const auto to = descriptorOf(request, newParent);
    if (!from || !to)
        return replyResult(request, from ? to.error() : from.error());
    const int result =
        inodesOf(request).rename(parent, from.fd(), name, newParent, to.fd(), newName, flags);
    if (operationLogEnabled()) {
        const LogPath path(from.fd(), name);
        logOperation(path, "rename", loggedValue(result), "rename %s to %s", path.text().c_str(),
                     rootRelativePath(to.fd(), newName).c_str());
    }
    replyResult(request, result);
}

} // namespace TessarnFuse::Operations
