#include "ondemand/waiting_open.h"

#include "client/sync_client_connection.h"
#include "fuse/errno_result.h"
#include "fuse/inode_xattr.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"
#include "fuse/paths.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <tessarn/tessarn.h>
#include <unistd.h>

namespace TessarnFuse {

namespace {

constexpr auto operation = "open";

// Called by libfuse on any of its threads, possibly while the worker is setting it: it only
// tells the worker, which answers the request.
void callerGaveUp(fuse_req_t, void* id) noexcept
{
    try {
        socketThread().interrupt(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(id)));
    } catch (...) {
        // The open then waits for its other ends, as it would without the interrupt.
    }
}

// A set of signals as /proc shows it: a bit for each, SIGHUP's the lowest.
std::uint64_t signalSet(const std::string& status, std::string_view field)
{
    const auto at = status.find(field);
    if (at == std::string::npos)
        return 0;
    return std::strtoull(status.c_str() + at + field.size(), nullptr, 16);
}

constexpr std::uint64_t signalBit(int signal)
{
    return std::uint64_t{1} << (signal - 1);
}

// A signal that ends a process by its default action is turned into SIGKILL pending for each of
// its threads. The others that ask a process to stop count whether the application handles them
// or not, as Python, most GUI toolkits and shells with a trap do: a handler runs only once the
// open has returned. A timer's signal or a child's end is no reason to fail an open.
constexpr std::uint64_t stopSignals = signalBit(SIGKILL) | signalBit(SIGINT) |
                                      signalBit(SIGTERM) | signalBit(SIGHUP) | signalBit(SIGQUIT);

} // namespace

void replyOpened(fuse_req_t request, fuse_ino_t inode, int inodeFd, fuse_file_info fi)
{
    const int fd = resultOf(::open(procPath(inodeFd).c_str(), (fi.flags & ~O_NOFOLLOW) | O_CLOEXEC));
    if (fd < 0)
        return Operations::replyResult(request, fd);
    fi.fh = static_cast<uint64_t>(fd);
    fi.keep_cache = Operations::keepsPages(request, inode, fd);
    // A caller that was interrupted meanwhile will never release the file.
    if (fuse_reply_open(request, &fi) == -ENOENT)
        ::close(fd);
}

WaitingOpen::WaitingOpen(fuse_req_t request, InodeRef inode,
                         const fuse_file_info& fi, std::string path, const Caller& caller,
                         std::int32_t id)
    : m_request(request), m_inode(std::move(inode)), m_fi(fi), m_path(std::move(path)),
      m_caller(caller), m_id(id), m_seen(contentNow())
{
}

void WaitingOpen::waiting(std::int32_t id)
{
    fuse_req_interrupt_func(m_request, callerGaveUp,
                            reinterpret_cast<void*>(static_cast<std::intptr_t>(id)));
}

WaitingOpen::Content WaitingOpen::contentNow() const
{
    Content content;
    const auto fd = m_inode.table().descriptor(m_inode);
    if (!fd)
        return content;
    struct stat st {};
    if (::fstat(fd.fd(), &st) == 0) {
        content.size = st.st_size;
        content.modified = st.st_mtim;
    }
    content.record = InodeXattr::value(fd.fd(), Tessarn::Constants::placeholderAttribute.data())
                         .value_or(std::string());
    return content;
}

// The client writes the content in and rewrites the record: either is a sign of life.
bool WaitingOpen::progressed()
{
    const auto now = contentNow();
    const bool written = now.modified.tv_sec != m_seen.modified.tv_sec ||
                         now.modified.tv_nsec != m_seen.modified.tv_nsec;
    const bool moved = now.size > m_seen.size || written || now.record != m_seen.record;
    m_seen = now;
    return moved;
}

// FUSE names the calling thread: its status shows the signals pending for the thread itself and
// for its whole process. They stay pending while the thread waits for the open's answer. A
// signal the thread blocks does not interrupt it, so it waits for the application's say.
bool WaitingOpen::callerGivesUp()
{
    std::ifstream file("/proc/" + std::to_string(m_caller.pid) + "/status");
    if (!file)
        return true; // gone already
    const std::string status((std::istreambuf_iterator<char>(file)), {});
    const auto pending = signalSet(status, "\nSigPnd:") | signalSet(status, "\nShdPnd:");
    return (pending & stopSignals & ~signalSet(status, "\nSigBlk:")) != 0;
}

void WaitingOpen::finished(HydrationOutcome outcome)
{
    if (m_answered.exchange(true))
        return;
    const ServingCaller serving(m_caller);
    try {
        const int result = logEnd(outcome);
        if (result < 0)
            return Operations::replyResult(m_request, result);
        const auto fd = m_inode.table().descriptor(m_inode);
        if (fd)
            replyOpened(m_request, m_inode.number(), fd.fd(), m_fi);
        else
            Operations::replyResult(m_request, fd.error());
    } catch (...) {
        // Nothing above throws once the reply is sent: the request is still to be answered.
        Operations::replyResult(m_request, -EIO);
    }
}

int WaitingOpen::logEnd(const HydrationOutcome& outcome) const
{
    const LogPath path(m_path);
    switch (outcome.end) {
    case HydrationEnd::Succeeded:
        logOperation(path, operation, 1, "Found in job queue %d", 0);
        logOperation(path, operation, 1, "Sucessfully finished job %d", m_id);
        logOperation(path, operation, 0, "-- open finished");
        return 0;
    case HydrationEnd::Failed:
        logOperation(path, operation, 1, "Found in job queue %d", -1);
        logOperation(path, operation, 0, "Failed job %d", m_id);
        break;
    case HydrationEnd::NotQueued:
        logOperation(path, operation, 1, "Job queue does not have job %d", m_id);
        break;
    case HydrationEnd::TimedOut:
        logOperation(path, operation, 20, "TIMEOUT - no answer from client");
        return -ETIMEDOUT;
    case HydrationEnd::Interrupted:
        logOperation(path, operation, -1, "Interrupted, giving up job %d", m_id);
        return -EINTR;
    case HydrationEnd::Stopping:
        logOperation(path, operation, -1, "Daemon stopping, giving up job %d", m_id);
        return -EIO;
    }
    logOperation(path, operation, 1, "ERROR while retrieving: %d", -1);
    return -failure(outcome.namedError);
}

// Only a file that lost its last name while its open waited is really gone; an error that the
// client does not name is an error of the input, as a failing disk's would be.
int WaitingOpen::failure(int namedError) const
{
    const auto fd = m_inode.table().descriptor(m_inode);
    struct stat st {};
    // Without a descriptor to be had, the inode has no name to be found by either.
    if (fd.error() == -ESTALE || (fd && ::fstat(fd.fd(), &st) == 0 && st.st_nlink == 0))
        return ENOENT;
    return namedError != 0 ? namedError : EIO;
}

} // namespace TessarnFuse
