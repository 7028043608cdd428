// The descriptor budget. An inode's descriptor stays open while it is in use and while it is
// among the most recently used; the others are closed, and opened again when needed from the
// parent's descriptor and the name, which may mean opening the parent's first, up to an ancestor
// that has one (the root always has).
#include "fuse/errno_result.h"
#include "fuse/inode_table.h"
#include "startup/console.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TessarnFuse {

namespace {

constexpr int attemptsAfterRenames = 3;

bool sameObject(int fd, const Inode& inode)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_dev == inode.dev && st.st_ino == inode.ino;
}

bool outOfDescriptors(int result)
{
    return result == -EMFILE || result == -ENFILE;
}

// Open files take what the objects' descriptors leave: a user who keeps that many open learns
// why calls fail, once a minute at most.
void reportShortage(std::size_t closed)
{
    using Clock = std::chrono::steady_clock;
    static std::atomic<Clock::rep> lastReport{0};
    const auto now = Clock::now().time_since_epoch().count();
    auto last = lastReport.load();
    if (last != 0 && Clock::duration(now - last) < std::chrono::minutes(1))
        return;
    if (!lastReport.compare_exchange_strong(last, now))
        return;
    printError("Out of file descriptors: closed ", closed,
               " kept for known files; raise the daemon's limit (ulimit -n) if calls fail");
}

} // namespace

Descriptor InodeTable::open(Inode& inode, Lock& lock)
{
    if (inode.fd >= 0) {
        use(inode);
        return Descriptor(*this, inode);
    }
    for (int attempt = 1;; ++attempt) {
        const std::uint64_t version = m_namesVersion;
        const int result = reopen(inode, lock);
        if (result == 0)
            return Descriptor(*this, inode);
        // A rename may have changed the way while the lock was let go: it is taken anew.
        if (version == m_namesVersion || attempt == attemptsAfterRenames)
            return Descriptor(result);
    }
}

int InodeTable::reopen(Inode& inode, Lock& lock)
{
    std::vector<Inode*> way; // the inode, then its ancestors that have no descriptor either
    for (Inode* at = &inode; at->fd < 0; at = at->parent) {
        if (!at->parent)
            return -ESTALE; // no name to be found by any more
        way.push_back(at);
    }
    for (Inode* step : way)
        hold(*step);
    Inode* parent = way.back()->parent;
    use(*parent);
    int result = 0;
    for (auto step = way.rbegin(); step != way.rend() && result == 0; ++step) {
        result = openChild(*parent, **step, lock);
        unuse(*parent);
        parent = *step;
    }
    for (Inode* step : way)
        release(*step);
    evict(m_budget);
    return result;
}

int InodeTable::openChild(Inode& parent, Inode& child, Lock& lock)
{
    if (child.fd < 0) {
        const std::string name = child.name;
        lock.unlock();
        const int fd = openObject(parent.fd, name.c_str());
        const bool same = fd >= 0 && sameObject(fd, child);
        lock.lock();
        if (!same) {
            if (fd >= 0)
                m_closing.push_back(fd);
            // Another object under the name, or none: the kernel's inode is not there any more.
            return fd >= 0 || fd == -ENOENT || fd == -ENOTDIR ? -ESTALE : fd;
        }
        install(child, fd);
    }
    use(child);
    return 0;
}

int InodeTable::openObject(int parentFd, const char* name)
{
    const auto attempt = [&] {
        return resultOf(::openat(parentFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    };
    const int fd = attempt();
    if (!outOfDescriptors(fd))
        return fd;
    Lock lock(m_mutex);
    const auto before = m_open;
    evict(m_open / 2);
    const auto closed = before - m_open;
    unlockAndClose(lock);
    reportShortage(closed);
    return attempt();
}

void InodeTable::use(Inode& inode)
{
    hold(inode);
    ++inode.users;
    unlist(inode);
}

void InodeTable::unuse(Inode& inode)
{
    if (--inode.users == 0 && inode.fd >= 0 && inode.parent)
        list(inode);
    release(inode);
}

void InodeTable::install(Inode& inode, int fd)
{
    if (inode.fd >= 0) {
        m_closing.push_back(fd);
        return;
    }
    inode.fd = fd;
    ++m_open;
    if (inode.users == 0 && inode.parent)
        list(inode);
}

void InodeTable::evict(std::size_t keep)
{
    while (m_open > keep && m_oldest) {
        Inode& victim = *m_oldest;
        unlist(victim);
        m_closing.push_back(std::exchange(victim.fd, -1));
        --m_open;
    }
}

void InodeTable::list(Inode& inode)
{
    if (inode.listed)
        return;
    inode.listed = true;
    inode.older = m_newest;
    inode.newer = nullptr;
    (m_newest ? m_newest->newer : m_oldest) = &inode;
    m_newest = &inode;
}

void InodeTable::unlist(Inode& inode)
{
    if (!inode.listed)
        return;
    inode.listed = false;
    (inode.newer ? inode.newer->older : m_newest) = inode.older;
    (inode.older ? inode.older->newer : m_oldest) = inode.newer;
    inode.newer = inode.older = nullptr;
}

Descriptor::Descriptor(InodeTable& table, Inode& inode)
    : m_table(&table), m_inode(&inode), m_fd(inode.fd)
{
}

Descriptor::Descriptor(Descriptor&& other) noexcept
    : m_table(std::exchange(other.m_table, nullptr)),
      m_inode(std::exchange(other.m_inode, nullptr)), m_fd(other.m_fd)
{
}

Descriptor::~Descriptor()
{
    if (!m_inode)
        return;
    InodeTable::Lock lock(m_table->m_mutex);
    m_table->unuse(*m_inode);
    m_table->unlockAndClose(lock);
}

} // namespace TessarnFuse
