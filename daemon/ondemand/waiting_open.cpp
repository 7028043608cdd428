#include "ondemand/waiting_open.h"

#include "fuse/errno_result.h"
#include "fuse/inode_xattr.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"
#include "fuse/paths.h"

#include "ondemand/giving_up.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <tessarn/tessarn.h>
#include <unistd.h>

namespace TessarnFuse {

namespace {

constexpr auto operation = "open";

// A caller that was interrupted meanwhile will never release the file.
void replyOpen(fuse_req_t request, fuse_file_info& fi, DownloadTable* streamed)
{
    if (fuse_reply_open(request, &fi) != -ENOENT)
        return;
    if (streamed)
        streamed->closed(fi.fh);
    ::close(static_cast<int>(fi.fh));
}

int openUnderneath(int inodeFd, const fuse_file_info& fi)
{
    return resultOf(::open(procPath(inodeFd).c_str(), (fi.flags & ~O_NOFOLLOW) | O_CLOEXEC));
}

} // namespace

void replyOpened(fuse_req_t request, fuse_ino_t inode, int inodeFd, fuse_file_info fi)
{
    const int fd = openUnderneath(inodeFd, fi);
    if (fd < 0)
        return Operations::replyResult(request, fd);
    fi.fh = static_cast<uint64_t>(fd);
    fi.keep_cache = Operations::keepsPages(request, inode, fd);
    replyOpen(request, fi, nullptr);
}

// The kernel keeps no page of what such a handle reads, since each read gets the bytes that
// have arrived, as the daemon counts them, and the end of the file where the record puts it.
void replyStreaming(fuse_req_t request, int inodeFd, fuse_file_info fi, DownloadTable& downloads,
                    std::shared_ptr<Download> download)
{
    const int fd = openUnderneath(inodeFd, fi);
    if (fd < 0)
        return Operations::replyResult(request, fd);
    fi.fh = static_cast<uint64_t>(fd);
    fi.direct_io = 1;
    fi.keep_cache = 0;
    // Before the answer: the first read may come at once.
    downloads.stream(fi.fh, std::move(download));
    replyOpen(request, fi, &downloads);
}

WaitingOpen::WaitingOpen(fuse_req_t request, InodeRef inode, const fuse_file_info& fi,
                         std::string path, const Caller& caller, std::int32_t id,
                         DownloadTable* streamFrom)
    : m_request(request), m_inode(std::move(inode)), m_fi(fi), m_path(std::move(path)),
      m_caller(caller), m_id(id), m_seen(contentNow()), m_downloads(streamFrom)
{
}

void WaitingOpen::waiting(std::int32_t id)
{
    forwardInterrupts(m_request, id);
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

bool WaitingOpen::callerGivesUp()
{
    return TessarnFuse::callerGivesUp(m_caller.pid);
}

// The client has taken the request, since it writes the file, and the first bytes are there.
bool WaitingOpen::ready()
{
    if (!m_downloads)
        return false;
    const auto* inode = m_inode.get();
    auto download = m_downloads->of(inode->dev, inode->ino);
    if (!download || download->state() != Download::State::Arriving || download->arrived() == 0)
        return false;
    m_stream = std::move(download);
    return true;
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
        if (!fd)
            Operations::replyResult(m_request, fd.error());
        else if (outcome.end == HydrationEnd::Ready)
            replyStreaming(m_request, fd.fd(), m_fi, *m_downloads, m_stream);
        else
            replyOpened(m_request, m_inode.number(), fd.fd(), m_fi);
    } catch (...) {
        // Nothing above throws once the reply is sent: the request is still to be answered.
        Operations::replyResult(m_request, -EIO);
    }
}

int WaitingOpen::logEnd(const HydrationOutcome& outcome) const
{
    const LogPath path(m_path);
    switch (outcome.end) {
    case HydrationEnd::Ready:
        logOperation(path, operation, 0, "Streaming while job %d downloads: %jd bytes are here",
                     m_id, static_cast<intmax_t>(m_stream->arrived()));
        logOperation(path, operation, 0, "-- open finished");
        return 0;
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
