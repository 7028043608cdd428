#include "fuse/kernel_cache.h"

#include "startup/console.h"

#include <cerrno>
#include <cstring>

namespace TessarnFuse {

double KernelCache::entryTimeout() const
{
    return static_cast<double>(m_timeout.count());
}

void KernelCache::setTimeouts(fuse_entry_param& entry, bool placeholder) const
{
    entry.entry_timeout = entryTimeout();
    entry.attr_timeout = placeholder ? 0.0 : entryTimeout();
}

void KernelCache::forgetInode(fuse_ino_t inode) const
{
    invalidate(inode, 0);
}

void KernelCache::forgetAttributes(fuse_ino_t inode) const
{
    invalidate(inode, -1);
}

void KernelCache::invalidate(fuse_ino_t inode, off_t off) const
{
    if (!enabled() || !m_session)
        return;
    const int result = fuse_lowlevel_notify_inval_inode(m_session, inode, off, 0);
    // The kernel not knowing the inode any more keeps nothing of it either.
    if (result < 0 && result != -ENOENT)
        printError("Cannot tell the kernel that inode ", inode,
                   " changed: ", std::strerror(-result));
}

} // namespace TessarnFuse
