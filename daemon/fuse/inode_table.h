// The inodes the kernel knows of. The kernel names an inode by the number handed to it at lookup
// and counts its lookups; forget gives them back. Each inode is found again by its parent and its
// name, which the daemon keeps true because every rename and unlink through the mount is its own.
// Only a budget of O_PATH descriptors stays open, the most recently used; an inode whose
// descriptor was closed is opened again from its parent's when an operation needs it, and
// checked to be the same object.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <fuse3/fuse_lowlevel.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace TessarnFuse {

class InodeTable;

// One object underneath the mount. Only its identity is constant; the rest is the table's to
// change, under its lock.
struct Inode {
    Inode(dev_t device, ino_t number) : dev(device), ino(number) {}
    Inode(const Inode&) = delete;
    Inode& operator=(const Inode&) = delete;

    const dev_t dev;
    const ino_t ino;
    // Where the object is: its parent holds a reference for it. No parent: the root, or an
    // object whose name is gone, which keeps its descriptor instead.
    Inode* parent = nullptr;
    std::string name;
    int fd = -1;
    std::uint64_t lookups = 0; // the kernel's
    std::uint32_t holds = 0;   // children, references and descriptors in use
    std::uint32_t users = 0;   // descriptors in use: not to be closed
    // The list of descriptors that may be closed, the most recently used first.
    Inode* newer = nullptr;
    Inode* older = nullptr;
    bool listed = false;
    // What the kernel's pages of the file were made from: its modification time and size after
    // the last change through the mount, or as the last open found them.
    std::int64_t contentModified = 0;
    off_t contentSize = -1;
};

// Keeps an inode in the table, and findable, while it lives; it holds no descriptor.
class InodeRef {
public:
    InodeRef() = default;
    InodeRef(InodeRef&& other) noexcept;
    InodeRef& operator=(InodeRef&& other) noexcept;
    ~InodeRef();

    Inode* get() const { return m_inode; }
    InodeTable& table() const { return *m_table; }
    // The number the kernel knows it by.
    fuse_ino_t number() const;

private:
    friend class InodeTable;
    InodeRef(InodeTable& table, Inode& inode); // adopts a hold the table counted

    InodeTable* m_table = nullptr;
    Inode* m_inode = nullptr;
};

// An inode's descriptor, kept open while this lives; or the negated errno that kept it from
// being opened (ESTALE: the name leads to another object, or to none).
class Descriptor {
public:
    explicit Descriptor(int error) : m_fd(error) {}
    Descriptor(Descriptor&& other) noexcept;
    Descriptor& operator=(Descriptor&&) = delete;
    ~Descriptor();

    explicit operator bool() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    int error() const { return m_fd < 0 ? m_fd : 0; }

private:
    friend class InodeTable;
    Descriptor(InodeTable& table, Inode& inode); // adopts a use the table counted

    InodeTable* m_table = nullptr;
    Inode* m_inode = nullptr;
    int m_fd;
};

class InodeTable {
public:
    // The root is the folder underneath the mount: never forgotten, its descriptor never closed.
    // The table keeps a copy of that descriptor, and at most budget others open.
    InodeTable(int rootFd, std::size_t budget);
    ~InodeTable();
    InodeTable(const InodeTable&) = delete;
    InodeTable& operator=(const InodeTable&) = delete;

    // Numbers the kernel was given and has not forgotten, or the root's.
    InodeRef reference(fuse_ino_t number);
    Descriptor descriptor(fuse_ino_t number);
    Descriptor descriptor(const InodeRef& inode);

    // Counts the changes of names; a look-up remembers under the name it found only when none
    // came between.
    std::uint64_t namesVersion() const;
    // One more lookup of an object found as name in parent: the number to hand to the kernel. fd
    // is an O_PATH descriptor of the object that the table takes, or -1.
    fuse_ino_t remember(fuse_ino_t parent, const char* name, const struct stat& st, int fd,
                        std::uint64_t namesSeen);
    void forget(fuse_ino_t number, std::uint64_t lookups);

    // The name changes, made here so that the names stay true: an object that loses its last
    // known name keeps its descriptor until it is forgotten or found again. 0 or a negated errno.
    int unlink(fuse_ino_t parent, int parentFd, const char* name, int flags);
    int rename(fuse_ino_t parent, int parentFd, const char* name, fuse_ino_t newParent,
               int newParentFd, const char* newName, unsigned int flags);

    // The file as a change through the mount left it: the kernel's pages hold that content.
    void contentChanged(fuse_ino_t number, const struct stat& now);
    // At an open: whether the kernel's pages still hold the file's content, which they do unless
    // the file changed behind the mount. They hold what it is now from then on.
    bool contentUnchanged(fuse_ino_t number, const struct stat& now);

    // An O_PATH descriptor of name in the directory, or the negated errno. When the process is
    // out of descriptors, the table closes half of those it may close and tries once more.
    int openObject(int parentFd, const char* name);

private:
    friend class InodeRef;
    friend class Descriptor;
    using Key = std::pair<dev_t, ino_t>;
    struct KeyHash {
        std::size_t operator()(const Key& key) const noexcept
        {
            return std::hash<ino_t>()(key.second) ^ (std::hash<dev_t>()(key.first) << 1);
        }
    };
    using Lock = std::unique_lock<std::mutex>;

    Inode& inodeOf(fuse_ino_t number);
    fuse_ino_t numberOf(const Inode& inode) const;
    Inode* find(const struct stat& st);
    void hold(Inode& inode);
    // Gives back a hold; frees the inode, and the parents that were held only for it, once
    // nothing needs them.
    void release(Inode& inode);
    void setName(Inode& inode, Inode& parent, std::string name);
    void loseName(Inode& inode);
    // The descriptor of the object at name in parent, kept open across a change that may take
    // that name away; none when the kernel does not know the object by that name.
    Descriptor pinNamed(fuse_ino_t parent, int parentFd, const char* name);
    // Descriptors let go of are closed after the lock is released: closing the last one of a
    // removed file frees its blocks, which may take long.
    void unlockAndClose(Lock& lock);

    // The descriptor budget (inode_descriptors.cpp).
    Descriptor open(Inode& inode, Lock& lock);
    // Opens the descriptors missing on the way down from the nearest ancestor that has one, each
    // kept in use until the next is open: 0 with the inode's in use, or the negated errno that
    // ended the way.
    int reopen(Inode& inode, Lock& lock);
    // With the parent's descriptor in use: 0 with the child's in use, or the negated errno.
    int openChild(Inode& parent, Inode& child, Lock& lock);
    void use(Inode& inode);
    void unuse(Inode& inode);
    // Takes over an open descriptor of the inode, or closes it when the inode has one.
    void install(Inode& inode, int fd);
    void evict(std::size_t keep);
    void list(Inode& inode);
    void unlist(Inode& inode);

    mutable std::mutex m_mutex;
    Inode m_root;
    std::unordered_map<Key, Inode, KeyHash> m_inodes;
    std::size_t m_budget;
    std::size_t m_open = 0; // descriptors of inodes other than the root
    std::atomic<std::uint64_t> m_namesVersion{0};
    std::vector<int> m_closing;
    Inode* m_newest = nullptr;
    Inode* m_oldest = nullptr;
};

} // namespace TessarnFuse
