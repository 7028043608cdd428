// What the kernel may keep of the daemon's answers, and for how long. Every change passes through
// the mount, where the kernel sees it, but for the placeholder record: a record written or
// removed changes the size the file shows, so the kernel is told to drop what it kept of it.
#pragma once

#include <chrono>
#include <fuse3/fuse_lowlevel.h>

namespace TessarnFuse {

class KernelCache {
public:
    // Zero: the kernel keeps nothing, and asks the daemon every time.
    explicit KernelCache(std::chrono::seconds timeout) : m_timeout(timeout) {}
    // Once the session exists, before it serves.
    void attach(fuse_session* session) { m_session = session; }

    bool enabled() const { return m_timeout.count() > 0; }
    // The timeouts of an entry the daemon answers with. A placeholder's attributes are asked for
    // each time: the kernel lowers the size it keeps to what a read of the empty file underneath
    // finds, while the file shows its record's size.
    void setTimeouts(fuse_entry_param& entry, bool placeholder) const;
    double entryTimeout() const;
    // Drops the kernel's attributes and pages of the inode. Safe in any operation: it waits for
    // no lock of the kernel's, as no page is ever dirty in the kernel (there is no write-back
    // cache). A failure is reported, never fatal.
    void forgetInode(fuse_ino_t inode) const;
    // Drops the kernel's attributes of the inode only.
    void forgetAttributes(fuse_ino_t inode) const;

private:
    // off: where the pages to drop begin, or negative for none.
    void invalidate(fuse_ino_t inode, off_t off) const;

    std::chrono::seconds m_timeout;
    fuse_session* m_session = nullptr;
};

} // namespace TessarnFuse
