// Where each inode is: the names change only through the daemon's own renames and unlinks, and
// each one puts the table right.
#include "fuse/errno_result.h"
#include "fuse/inode_table.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

namespace TessarnFuse {

namespace {

bool namedAt(const Inode* inode, const Inode& parent, const char* name)
{
    return inode && inode->parent == &parent && inode->name == name;
}

// Without a descriptor for the object a name leaves, the table could not follow the change: the
// call is refused before it is made.
bool refused(const Descriptor& pinned)
{
    return pinned.error() == -EMFILE || pinned.error() == -ENFILE;
}

} // namespace

void InodeTable::setName(Inode& inode, Inode& parent, std::string name)
{
    hold(parent);
    Inode* previous = std::exchange(inode.parent, &parent);
    inode.name = std::move(name);
    if (previous)
        release(*previous);
    else if (inode.fd >= 0 && inode.users == 0)
        list(inode); // found again: its descriptor may be closed like any other
}

void InodeTable::loseName(Inode& inode)
{
    Inode* previous = std::exchange(inode.parent, nullptr);
    if (!previous)
        return;
    inode.name = std::string();
    unlist(inode);
    release(*previous);
}

Descriptor InodeTable::pinNamed(fuse_ino_t parent, int parentFd, const char* name)
{
    struct stat st {};
    if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Descriptor(-ENOENT);
    Lock lock(m_mutex);
    Inode* inode = find(st);
    if (!namedAt(inode, inodeOf(parent), name))
        return Descriptor(-ENOENT);
    return open(*inode, lock);
}

int InodeTable::unlink(fuse_ino_t parent, int parentFd, const char* name, int flags)
{
    // Without a descriptor, an object whose last name goes could not be reached again.
    const auto removed = pinNamed(parent, parentFd, name);
    if (refused(removed))
        return removed.error();
    const int result = resultOf(::unlinkat(parentFd, name, flags));
    if (result == 0 && removed) {
        Lock lock(m_mutex);
        ++m_namesVersion;
        loseName(*removed.m_inode);
        unlockAndClose(lock);
    }
    return result;
}

int InodeTable::rename(fuse_ino_t parent, int parentFd, const char* name, fuse_ino_t newParent,
                       int newParentFd, const char* newName, unsigned int flags)
{
    const auto moved = pinNamed(parent, parentFd, name);
    const auto replaced = (flags & RENAME_NOREPLACE) ? Descriptor(-ENOENT)
                                                     : pinNamed(newParent, newParentFd, newName);
    if (refused(moved) || refused(replaced))
        return refused(moved) ? moved.error() : replaced.error();
    const int result =
        resultOf(::renameat2(parentFd, name, newParentFd, newName, flags));
    // Two names of one object: the rename changes nothing.
    if (result != 0 || (moved && replaced && moved.m_inode == replaced.m_inode))
        return result;
    Lock lock(m_mutex);
    ++m_namesVersion;
    auto& from = inodeOf(parent);
    auto& to = inodeOf(newParent);
    if (moved && namedAt(moved.m_inode, from, name))
        setName(*moved.m_inode, to, newName);
    if (replaced && (flags & RENAME_EXCHANGE))
        setName(*replaced.m_inode, from, name);
    else if (replaced)
        loseName(*replaced.m_inode);
    unlockAndClose(lock);
    return result;
}

} // namespace TessarnFuse
