// The inodes the kernel knows of, each an O_PATH descriptor of the object underneath. The kernel
// names an inode by the number handed to it at lookup and counts its lookups; forget gives them
// back, and the last one closes the descriptor.
#pragma once

#include <cstdint>
#include <fuse3/fuse_lowlevel.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <utility>

namespace TessarnFuse {

class Inode : public std::enable_shared_from_this<Inode> {
public:
    Inode(int fd, const struct stat& st) : m_fd(fd), m_dev(st.st_dev), m_ino(st.st_ino) {}
    ~Inode();
    Inode(const Inode&) = delete;
    Inode& operator=(const Inode&) = delete;

    int fd() const { return m_fd; }
    dev_t dev() const { return m_dev; }
    ino_t ino() const { return m_ino; }

private:
    int m_fd;
    dev_t m_dev;
    ino_t m_ino;
};

class InodeTable {
public:
    // The root is the folder underneath the mount, never forgotten; the table keeps a copy of
    // its descriptor.
    explicit InodeTable(int rootFd);

    // The inode behind a number the kernel was given: the kernel asks only about inodes it has
    // not forgotten, so the number always names a live one.
    std::shared_ptr<Inode> get(fuse_ino_t number) const;
    // Its descriptor, for an operation that needs nothing else and holds no reference.
    int fd(fuse_ino_t number) const;
    // Takes the descriptor of a looked-up object: the known inode gets one more lookup (and the
    // descriptor is closed), an unknown one is added. The number to hand to the kernel.
    fuse_ino_t remember(int fd, const struct stat& st);
    void forget(fuse_ino_t number, std::uint64_t lookups);

private:
    struct Entry {
        std::shared_ptr<Inode> inode;
        std::uint64_t lookups = 0;
    };
    using Key = std::pair<dev_t, ino_t>;

    mutable std::mutex m_mutex;
    std::shared_ptr<Inode> m_root;
    std::map<Key, Entry> m_entries;
};

} // namespace TessarnFuse
