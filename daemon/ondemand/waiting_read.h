// A read of a file that downloads, beyond the bytes that have arrived. It holds the FUSE
// request, not a thread: the socket worker answers it when its bytes are there or the download
// ends, when its caller gives up (as a waiting open's does), or when the daemon stops.
#pragma once

#include "client/job_table.h"
#include "fuse/caller.h"
#include "fuse/download.h"
#include "fuse/paths.h"

#include <fuse3/fuse_lowlevel.h>
#include <memory>

namespace TessarnFuse {

// The bytes of the range as the download has them: those that arrived, before the record's
// size; the file's own once it is complete; the download's error once it failed.
void replyStreamed(fuse_req_t request, const Download& download, const LogPath& path, int fd,
                   size_t size, off_t offset);

class WaitingRead : public HydrationWaiter {
public:
    WaitingRead(fuse_req_t request, std::shared_ptr<Download> download, LogPath path, int fd,
                size_t size, off_t offset, const Caller& caller);
    ~WaitingRead() override;
    WaitingRead(const WaitingRead&) = delete;
    WaitingRead& operator=(const WaitingRead&) = delete;

    void waiting(std::int32_t id) override;
    // The download's own watch keeps its stall limit.
    bool progressed() override { return true; }
    bool callerGivesUp() override;
    bool ready() override;
    void finished(HydrationOutcome outcome) override;

private:
    fuse_req_t m_request;
    std::shared_ptr<Download> m_download;
    LogPath m_path;
    int m_fd;
    size_t m_size;
    off_t m_offset;
    Caller m_caller;
    bool m_answered = false; // the worker's own, and the stop's after it
};

} // namespace TessarnFuse
