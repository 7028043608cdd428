// Directory listings, with or without each entry's attributes.
#include "fuse/errno_result.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"

#include <cstring>
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

bool isDotOrDotDot(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// An entry the kernel learns only the name, number and type of.
fuse_entry_param bareEntry(const dirent& found)
{
    fuse_entry_param entry{};
    entry.attr.st_ino = found.d_ino;
    entry.attr.st_mode = static_cast<mode_t>(found.d_type) << 12;
    return entry;
}

// Answers with the next piece of the listing, from where the kernel asks: add puts an entry in
// the room left, and returns the room it needs, more than was left when it did not fit.
template <typename Add>
void replyListing(fuse_req_t request, size_t size, off_t offset, Listing& listing, Add&& add)
{
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
        const auto needed = add(*listing.pending, buffer.data() + used, size - used);
        if (needed > size - used)
            break;
        used += needed;
        listing.offset = listing.pending->d_off;
        listing.pending = nullptr;
    }
    fuse_reply_buf(request, buffer.data(), used);
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
        // A listing changes only through the mount, where the kernel sees the change.
        fi->cache_readdir = fi->keep_cache = cacheOf(request).enabled();
        if (fuse_reply_open(request, fi) == -ENOENT) {
            ::closedir(directory);
            delete listingOf(fi);
        }
    });
}

void readdir(fuse_req_t request, fuse_ino_t, size_t size, off_t offset, fuse_file_info* fi)
{
    replyListing(request, size, offset, *listingOf(fi),
                 [&](const dirent& found, char* at, size_t room) {
                     const auto entry = bareEntry(found);
                     return fuse_add_direntry(request, at, room, found.d_name, &entry.attr,
                                              found.d_off);
                 });
}

// Each entry looked up as it is listed: one request instead of a look-up for each name.
void readdirplus(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
                 fuse_file_info* fi)
{
    auto& listing = *listingOf(fi);
    const int directory = ::dirfd(listing.directory);
    replyListing(request, size, offset, listing, [&](const dirent& found, char* at, size_t room) {
        fuse_entry_param entry{};
        // Without its attributes, an entry is still listed; the kernel looks it up when used.
        if (isDotOrDotDot(found.d_name) ||
            lookupEntry(request, inode, directory, found.d_name, entry) < 0)
            entry = bareEntry(found);
        const auto needed =
            fuse_add_direntry_plus(request, at, room, found.d_name, &entry, found.d_off);
        if (needed > room && entry.ino != 0)
            inodesOf(request).forget(entry.ino, 1); // listed again in the next piece
        return needed;
    });
}

void releasedir(fuse_req_t request, fuse_ino_t, fuse_file_info* fi)
{
    const std::unique_ptr<Listing> listing(listingOf(fi));
    ::closedir(listing->directory);
    fuse_reply_err(request, 0);
}

} // namespace TessarnFuse::Operations
