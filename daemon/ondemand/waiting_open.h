// An open that waits for its hydration. It holds the FUSE request, not a thread: the socket
// worker answers it when the request ends, in whichever way it ends first. An open that may
// stream is answered as soon as the client writes the file's first bytes.
#pragma once

#include "client/job_table.h"
#include "fuse/caller.h"
#include "fuse/download_table.h"
#include "fuse/inode_table.h"

#include <atomic>
#include <fuse3/fuse_lowlevel.h>
#include <memory>
#include <string>
#include <sys/types.h>

namespace TessarnFuse {

// Opens the file underneath for the request and answers it.
void replyOpened(fuse_req_t request, fuse_ino_t inode, int inodeFd, fuse_file_info fi);

class WaitingOpen : public HydrationWaiter {
public:
    // With the downloads of its folder, the open streams.
    WaitingOpen(fuse_req_t request, InodeRef inode, const fuse_file_info& fi, std::string path,
                const Caller& caller, std::int32_t id, DownloadTable* streamFrom);

    void waiting(std::int32_t id) override;
    bool progressed() override;
    bool callerGivesUp() override;
    bool ready() override;
    void finished(HydrationOutcome outcome) override;

private:
    struct Content {
        off_t size = 0;
        timespec modified{};
        std::string record;
    };
    Content contentNow() const;
    // The reply and its log lines; negative: the error to answer with.
    int logEnd(const HydrationOutcome& outcome) const;
    // The error of a download that failed: the client's word, unless the file is gone.
    int failure(int namedError) const;

    fuse_req_t m_request;
    InodeRef m_inode;
    fuse_file_info m_fi;
    std::string m_path;
    Caller m_caller;
    std::int32_t m_id;
    Content m_seen;
    DownloadTable* m_downloads;
    std::shared_ptr<Download> m_stream; // once ready
    // Whoever sets it answers the request; nobody after.
    std::atomic<bool> m_answered{false};
};

} // namespace TessarnFuse
