#include "fuse/inode_table.h"

#include <fcntl.h>
#include <unistd.h>

namespace TessarnFuse {

namespace {
Inode* asInode(fuse_ino_t number)
{
    return reinterpret_cast<Inode*>(static_cast<std::uintptr_t>(number));
}

fuse_ino_t numberOf(const Inode& inode)
{
    return static_cast<fuse_ino_t>(reinterpret_cast<std::uintptr_t>(&inode));
}

struct stat statOf(int fd)
{
    struct stat st {};
    ::fstat(fd, &st);
    return st;
}
} // namespace

Inode::~Inode()
{
    ::close(m_fd);
}

InodeTable::InodeTable(int rootFd)
{
    const int fd = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
    m_root = std::make_shared<Inode>(fd, statOf(fd));
}

std::shared_ptr<Inode> InodeTable::get(fuse_ino_t number) const
{
    if (number == FUSE_ROOT_ID)
        return m_root;
    return asInode(number)->shared_from_this();
}

int InodeTable::fd(fuse_ino_t number) const
{
    return number == FUSE_ROOT_ID ? m_root->fd() : asInode(number)->fd();
}

fuse_ino_t InodeTable::remember(int fd, const struct stat& st)
{
    if (st.st_dev == m_root->dev() && st.st_ino == m_root->ino()) {
        ::close(fd);
        return FUSE_ROOT_ID;
    }
    std::lock_guard lock(m_mutex);
    auto& entry = m_entries[{st.st_dev, st.st_ino}];
    if (entry.inode)
        ::close(fd);
    else
        entry.inode = std::make_shared<Inode>(fd, st);
    ++entry.lookups;
    return numberOf(*entry.inode);
}

void InodeTable::forget(fuse_ino_t number, std::uint64_t lookups)
{
    if (number == FUSE_ROOT_ID)
        return;
    std::shared_ptr<Inode> last; // closed outside the lock
    std::lock_guard lock(m_mutex);
    const auto* inode = asInode(number);
    const auto found = m_entries.find({inode->dev(), inode->ino()});
    if (found == m_entries.end())
        return;
    auto& entry = found->second;
    entry.lookups -= std::min(lookups, entry.lookups);
    if (entry.lookups == 0) {
        last = std::move(entry.inode);
        m_entries.erase(found);
    }
}

} // namespace TessarnFuse
