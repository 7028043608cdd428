// Extended attributes pass through, placeholder record included. Three names are answered by the
// daemon itself: the real size of the content, a default record for files without one, and how
// far a download has come. Its own answers are not listed, so that a copy with attributes takes
// none of them.
#include "fuse/caller.h"
#include "fuse/errno_result.h"
#include "fuse/inode_xattr.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <tessarn/tessarn.h>
#include <vector>

namespace TessarnFuse::Operations {

namespace {

using Tessarn::Constants::placeholderAttribute;
using Tessarn::Constants::progressAttribute;
using Tessarn::Constants::realSizeAttribute;

// An attribute value by the kernel's rule: size 0 asks for the length only.
void replyValue(fuse_req_t request, std::string_view value, size_t size)
{
    if (size == 0)
        fuse_reply_xattr(request, value.size());
    else if (size < value.size())
        fuse_reply_err(request, ERANGE);
    else
        fuse_reply_buf(request, value.data(), value.size());
}

// A length, or a negated errno, as the kernel wants it back.
void replyLength(fuse_req_t request, int result, const std::vector<char>& buffer, size_t size)
{
    if (result < 0)
        replyResult(request, result);
    else if (size == 0)
        fuse_reply_xattr(request, static_cast<size_t>(result));
    else
        fuse_reply_buf(request, buffer.data(), static_cast<size_t>(result));
}

const std::vector<unsigned char>& defaultRecord()
{
    static const auto bytes =
        Tessarn::PlaceHolderAttributes({}, "", "", 0, Tessarn::Constants::States::Hydrated,
                                       Tessarn::Constants::PinStates::Inherited)
            .toData();
    return bytes;
}

void replyRealSize(fuse_req_t request, int fd, size_t size)
{
    struct stat st {};
    if (const int result = resultOf(::fstatat(fd, "", &st, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW));
        result < 0)
        return replyResult(request, result);
    replyValue(request, std::to_string(st.st_size), size);
}

// There only while the file downloads.
void replyProgress(fuse_req_t request, int fd, size_t size)
{
    struct stat st {};
    const auto download = ::fstat(fd, &st) == 0 ? downloadsOf(request).of(st) : nullptr;
    if (!download)
        return replyResult(request, -ENODATA);
    replyValue(request, std::to_string(download->arrived()) + "/" + std::to_string(download->size()),
               size);
}

// Written or removed, a placeholder record changes the size the file shows, and the file's
// content may have come or gone with it: the kernel asks again before the call returns. It
// begins or ends the file's download.
void recordChanged(fuse_req_t request, fuse_ino_t inode, int fd, const char* name)
{
    if (name != placeholderAttribute)
        return;
    cacheOf(request).forgetInode(inode);
    downloadsOf(request).recordChanged(inode, fd, fromSyncClient(request));
}

} // namespace

void getxattr(fuse_req_t request, fuse_ino_t inode, const char* name, size_t size)
{
    withDescriptor(request, inode, [&](int fd) {
        if (name == realSizeAttribute)
            return replyRealSize(request, fd, size);
        if (name == progressAttribute)
            return replyProgress(request, fd, size);
        std::vector<char> buffer(size);
        const int result = InodeXattr::get(fd, name, buffer.data(), size);
        if (result != -ENODATA || name != placeholderAttribute)
            return replyLength(request, result, buffer, size);
        logOperation(LogPath(fd), "getxattr", 0, "Returning default data for %s", name);
        const auto& record = defaultRecord();
        replyValue(request, {reinterpret_cast<const char*>(record.data()), record.size()}, size);
    });
}

void setxattr(fuse_req_t request, fuse_ino_t inode, const char* name, const char* value,
              size_t size, int flags)
{
    withDescriptor(request, inode, [&](int fd) {
        const int result = InodeXattr::set(fd, name, value, size, flags);
        if (result == 0)
            recordChanged(request, inode, fd, name);
        replyResult(request, result);
    });
}

void listxattr(fuse_req_t request, fuse_ino_t inode, size_t size)
{
    withDescriptor(request, inode, [&](int fd) {
        std::vector<char> buffer(size);
        replyLength(request, InodeXattr::list(fd, buffer.data(), size), buffer, size);
    });
}

void removexattr(fuse_req_t request, fuse_ino_t inode, const char* name)
{
    withDescriptor(request, inode, [&](int fd) {
        const int result = InodeXattr::remove(fd, name);
        if (result == 0)
            recordChanged(request, inode, fd, name);
        replyResult(request, result);
    });
}

} // namespace TessarnFuse::Operations
