#include "ondemand/waiting_read.h"

#include "fuse/operation_log.h"
#include "fuse/operations.h"
#include "ondemand/giving_up.h"

#include <cerrno>

namespace TessarnFuse {

void replyStreamed(fuse_req_t request, const Download& download, const LogPath& path, int fd,
                   size_t size, off_t offset)
{
    switch (download.state()) {
    case Download::State::Complete:
        return Operations::replyBytes(request, path, fd, size, offset, false);
    case Download::State::Failed:
        logOperation(path, "read", -1, "the download failed");
        return Operations::replyResult(request, download.error());
    default:
        return Operations::replyBytes(request, path, fd, download.within(offset, size), offset,
                                      true);
    }
}

WaitingRead::WaitingRead(fuse_req_t request, std::shared_ptr<Download> download, LogPath path,
                         int fd, size_t size, off_t offset, const Caller& caller)
    : m_request(request), m_download(std::move(download)), m_path(std::move(path)), m_fd(fd),
      m_size(size), m_offset(offset), m_caller(caller)
{
    m_download->readWaits();
}

WaitingRead::~WaitingRead()
{
    m_download->readEnded();
}

void WaitingRead::waiting(std::int32_t id)
{
    forwardInterrupts(m_request, id);
}

bool WaitingRead::callerGivesUp()
{
    return TessarnFuse::callerGivesUp(m_caller.pid);
}

bool WaitingRead::ready()
{
    return m_download->readable(m_offset, m_size);
}

void WaitingRead::finished(HydrationOutcome outcome)
{
    if (std::exchange(m_answered, true))
        return;
    const ServingCaller serving(m_caller);
    try {
        switch (outcome.end) {
        case HydrationEnd::Ready:
            return replyStreamed(m_request, *m_download, m_path, m_fd, m_size, m_offset);
        case HydrationEnd::Interrupted:
            logOperation(m_path, "read", -1, "Interrupted while its bytes download");
            return Operations::replyResult(m_request, -EINTR);
        case HydrationEnd::TimedOut:
            return Operations::replyResult(m_request, -ETIMEDOUT);
        default:
            logOperation(m_path, "read", -1, "The download ended without its bytes");
            return Operations::replyResult(m_request, -EIO);
        }
    } catch (...) {
        // Nothing above throws once the reply is sent: the request is still to be answered.
        Operations::replyResult(m_request, -EIO);
    }
}

} // namespace TessarnFuse
