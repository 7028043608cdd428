// The FUSE operations, each forwarding to the folder underneath the mount through the inodes'
// descriptors. Each replies to its request exactly once, as its last step; an exception before
// that reply is caught at the boundary in operation_table.cpp and answered with EIO.
#pragma once

#include "fuse/paths.h"
#include "fuse/served_folder.h"

#include <fuse3/fuse_lowlevel.h>
#include <optional>
#include <sys/stat.h>

namespace TessarnFuse::Operations {

inline ServedFolder& folderOf(fuse_req_t request)
{
    return *static_cast<ServedFolder*>(fuse_req_userdata(request));
}

inline InodeTable& inodesOf(fuse_req_t request)
{
    return folderOf(request).inodes;
}

inline const KernelCache& cacheOf(fuse_req_t request)
{
    return folderOf(request).cache;
}

inline DownloadTable& downloadsOf(fuse_req_t request)
{
    return folderOf(request).downloads;
}

// The descriptor of an inode the request names, open while it lives.
inline Descriptor descriptorOf(fuse_req_t request, fuse_ino_t inode)
{
    return inodesOf(request).descriptor(inode);
}

// 0 or a negated errno, as the reply it stands for.
inline void replyResult(fuse_req_t request, int result)
{
    fuse_reply_err(request, result < 0 ? -result : 0);
}

// Runs body with the descriptor of an inode the request names, or answers the error that kept
// it from being opened.
template <typename Body>
void withDescriptor(fuse_req_t request, fuse_ino_t inode, Body&& body)
{
    const auto fd = descriptorOf(request, inode);
    if (!fd)
        return replyResult(request, fd.error());
    body(fd.fd());
}

// Looks the name up and makes it known to the kernel; 0 or a negated errno.
int lookupEntry(fuse_req_t request, fuse_ino_t parent, int parentFd, const char* name,
                fuse_entry_param& entry);
void replyEntry(fuse_req_t request, const fuse_entry_param& entry);
// The file open as fd changed through the mount: the kernel's pages hold what it is now. The
// file's attributes underneath, when they could be read.
std::optional<struct stat> contentChanged(fuse_req_t request, fuse_ino_t inode, int fd);
// Whether the kernel may keep the pages it has of the file just opened as fd: they hold its
// content unless the file changed behind the mount, and then its attributes go too.
bool keepsPages(fuse_req_t request, fuse_ino_t inode, int fd);

// What the mount shows of an object, and how long the kernel may keep it: the attributes
// underneath, with a placeholder's recorded size. 0 or a negated errno.
int entryOf(fuse_req_t request, int fd, fuse_entry_param& entry);

void lookup(fuse_req_t request, fuse_ino_t parent, const char* name);
void forget(fuse_req_t request, fuse_ino_t inode, uint64_t lookups) noexcept;
void forgetMulti(fuse_req_t request, size_t count, fuse_forget_data* forgets) noexcept;

void getattr(fuse_req_t request, fuse_ino_t inode, fuse_file_info* fi);
void setattr(fuse_req_t request, fuse_ino_t inode, struct stat* attributes, int valid,
             fuse_file_info* fi);
void readlink(fuse_req_t request, fuse_ino_t inode);
void access(fuse_req_t request, fuse_ino_t inode, int mask);
void statfs(fuse_req_t request, fuse_ino_t inode);

void mknod(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t mode, dev_t device);
void mkdir(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t mode);
void symlink(fuse_req_t request, const char* target, fuse_ino_t parent, const char* name);
void link(fuse_req_t request, fuse_ino_t inode, fuse_ino_t newParent, const char* newName);
void create(fuse_req_t request, fuse_ino_t parent, const char* name, mode_t mode,
            fuse_file_info* fi);

void unlink(fuse_req_t request, fuse_ino_t parent, const char* name);
void rmdir(fuse_req_t request, fuse_ino_t parent, const char* name);
void rename(fuse_req_t request, fuse_ino_t parent, const char* name, fuse_ino_t newParent,
            const char* newName, unsigned int flags);
void opendir(fuse_req_t request, fuse_ino_t inode, fuse_file_info* fi);
void readdir(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
             fuse_file_info* fi);
void readdirplus(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
                 fuse_file_info* fi);
void releasedir(fuse_req_t request, fuse_ino_t inode, fuse_file_info* fi);

// The file's bytes as they are underneath.
void readFile(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset,
              fuse_file_info* fi);
// Answers a read with the bytes of the range from the file open as fd: all that the file holds,
// or with exact, all that was asked for or EIO.
void replyBytes(fuse_req_t request, const LogPath& path, int fd, size_t size, off_t offset,
                bool exact);
void writeBuffer(fuse_req_t request, fuse_ino_t inode, fuse_bufvec* data, off_t offset,
                 fuse_file_info* fi);
void release(fuse_req_t request, fuse_ino_t inode, fuse_file_info* fi);
void fsync(fuse_req_t request, fuse_ino_t inode, int dataSync, fuse_file_info* fi);

void setxattr(fuse_req_t request, fuse_ino_t inode, const char* name, const char* value,
              size_t size, int flags);
void getxattr(fuse_req_t request, fuse_ino_t inode, const char* name, size_t size);
void listxattr(fuse_req_t request, fuse_ino_t inode, size_t size);
void removexattr(fuse_req_t request, fuse_ino_t inode, const char* name);

} // namespace TessarnFuse::Operations
