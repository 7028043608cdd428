// Where things are underneath the mount. System calls go relative to inode descriptors; paths
// are only for the operation log and the hydration requests, which name files by their place
// in the folder: "./" for the folder itself, "./docs/a.txt" for a file in it.
#pragma once

#include "fuse/inode_table.h"

#include <optional>
#include <string>

namespace TessarnFuse {

// The path a descriptor stands for, for the calls that want a path: it reaches the object
// itself, whatever its name is now.
std::string procPath(int fd);

std::string rootRelativePath(int fd);
std::string rootRelativePath(int parentFd, const char* name);

// A path for the log, found only when a line is written, and then once: finding it costs a
// system call.
class LogPath {
public:
    explicit LogPath(int fd, const char* name = nullptr) : m_fd(fd), m_name(name) {}
    // An inode's path, for an operation that needs no descriptor of its own.
    LogPath(InodeTable& inodes, fuse_ino_t inode) : m_inodes(&inodes), m_inode(inode) {}
    explicit LogPath(std::string text) : m_text(std::move(text)) {}
    const std::string& text() const;

private:
    int m_fd = -1;
    const char* m_name = nullptr;
    InodeTable* m_inodes = nullptr;
    fuse_ino_t m_inode = 0;
    mutable std::optional<std::string> m_text;
};

} // namespace TessarnFuse
