#include "fuse/inode_table.h"

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace TessarnFuse {

namespace {

struct stat statOf(int fd)
{
    struct stat st {};
    ::fstat(fd, &st);
    return st;
}

bool freeable(const Inode& inode)
{
    return inode.lookups == 0 && inode.holds == 0;
}

} // namespace

InodeTable::InodeTable(int rootFd, std::size_t budget)
    : m_root(statOf(rootFd).st_dev, statOf(rootFd).st_ino), m_budget(budget)
{
    m_root.fd = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
}

InodeTable::~InodeTable()
{
    for (const auto& [key, inode] : m_inodes) {
        if (inode.fd >= 0)
            ::close(inode.fd);
    }
    ::close(m_root.fd);
}

Inode& InodeTable::inodeOf(fuse_ino_t number)
{
    if (number == FUSE_ROOT_ID)
        return m_root;
    return *reinterpret_cast<Inode*>(static_cast<std::uintptr_t>(number));
}

fuse_ino_t InodeTable::numberOf(const Inode& inode) const
{
    if (&inode == &m_root)
        return FUSE_ROOT_ID;
    return static_cast<fuse_ino_t>(reinterpret_cast<std::uintptr_t>(&inode));
}

Inode* InodeTable::find(const struct stat& st)
{
    if (st.st_dev == m_root.dev && st.st_ino == m_root.ino)
        return &m_root;
    const auto found = m_inodes.find({st.st_dev, st.st_ino});
    return found == m_inodes.end() ? nullptr : &found->second;
}

void InodeTable::hold(Inode& inode)
{
    ++inode.holds;
}

void InodeTable::release(Inode& inode)
{
    --inode.holds;
    // A loop, not a recursion: a deep tree of forgotten folders may go at once.
    for (Inode* gone = &inode; gone != &m_root && freeable(*gone);) {
        Inode* parent = gone->parent;
        if (gone->fd >= 0) {
            unlist(*gone);
            m_closing.push_back(gone->fd);
            --m_open;
        }
        m_inodes.erase({gone->dev, gone->ino});
        if (!parent)
            break;
        --parent->holds;
        gone = parent;
    }
}

void InodeTable::unlockAndClose(Lock& lock)
{
    std::vector<int> closing;
    closing.swap(m_closing);
    lock.unlock();
    for (const int fd : closing)
        ::close(fd);
}

InodeRef InodeTable::reference(fuse_ino_t number)
{
    const std::lock_guard lock(m_mutex);
    auto& inode = inodeOf(number);
    hold(inode);
    return InodeRef(*this, inode);
}

Descriptor InodeTable::descriptor(fuse_ino_t number)
{
    Lock lock(m_mutex);
    return open(inodeOf(number), lock);
}

Descriptor InodeTable::descriptor(const InodeRef& inode)
{
    Lock lock(m_mutex);
    return open(*inode.get(), lock);
}

std::uint64_t InodeTable::namesVersion() const
{
    return m_namesVersion;
}

fuse_ino_t InodeTable::remember(fuse_ino_t parent, const char* name, const struct stat& st,
                                int fd, std::uint64_t namesSeen)
{
    const std::unique_ptr<int, void (*)(int*)> unused(&fd, [](int* fd) {
        if (*fd >= 0)
            ::close(*fd);
    });
    std::string found(name);
    Lock lock(m_mutex);
    if (st.st_dev == m_root.dev && st.st_ino == m_root.ino)
        return FUSE_ROOT_ID;
    const auto [entry, added] = m_inodes.try_emplace({st.st_dev, st.st_ino}, st.st_dev, st.st_ino);
    auto& inode = entry->second;
    auto& directory = inodeOf(parent);
    // A name found before a rename or an unlink came between may be gone already; the change
    // itself put the names right.
    const bool moved = inode.parent != &directory || inode.name != found;
    if (added || (moved && namesSeen == m_namesVersion))
        setName(inode, directory, std::move(found));
    ++inode.lookups;
    if (fd >= 0)
        install(inode, std::exchange(fd, -1));
    evict(m_budget);
    unlockAndClose(lock);
    return numberOf(inode);
}

void InodeTable::forget(fuse_ino_t number, std::uint64_t lookups)
{
    if (number == FUSE_ROOT_ID)
        return;
    Lock lock(m_mutex);
    auto& inode = inodeOf(number);
    inode.lookups -= std::min(lookups, inode.lookups);
    // Freed as a hold given back would free it.
    hold(inode);
    release(inode);
    unlockAndClose(lock);
}

namespace {

std::int64_t nanoseconds(const timespec& time)
{
    return time.tv_sec * 1'000'000'000LL + time.tv_nsec;
}

// Whether the content is the one noted, and from now on it is.
bool noteContent(Inode& inode, const struct stat& now)
{
    const bool same = inode.contentModified == nanoseconds(now.st_mtim) &&
                      inode.contentSize == now.st_size;
    inode.contentModified = nanoseconds(now.st_mtim);
    inode.contentSize = now.st_size;
    return same;
}

} // namespace

void InodeTable::contentChanged(fuse_ino_t number, const struct stat& now)
{
    const std::lock_guard lock(m_mutex);
    noteContent(inodeOf(number), now);
}

bool InodeTable::contentUnchanged(fuse_ino_t number, const struct stat& now)
{
    const std::lock_guard lock(m_mutex);
    auto& inode = inodeOf(number);
    // Not opened before: the kernel has no pages of it.
    const bool first = inode.contentSize < 0;
    return noteContent(inode, now) || first;
}

InodeRef::InodeRef(InodeTable& table, Inode& inode) : m_table(&table), m_inode(&inode) {}

InodeRef::InodeRef(InodeRef&& other) noexcept
    : m_table(std::exchange(other.m_table, nullptr)), m_inode(std::exchange(other.m_inode, nullptr))
{
}

InodeRef& InodeRef::operator=(InodeRef&& other) noexcept
{
    std::swap(m_table, other.m_table);
    std::swap(m_inode, other.m_inode);
    return *this;
}

fuse_ino_t InodeRef::number() const
{
    return m_table->numberOf(*m_inode);
}

InodeRef::~InodeRef()
{
    if (!m_inode)
        return;
    InodeTable::Lock lock(m_table->m_mutex);
    m_table->release(*m_inode);
    m_table->unlockAndClose(lock);
}

} // namespace TessarnFuse
