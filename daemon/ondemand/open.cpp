// An open of a placeholder whose content is not here yet asks the sync client for it and gives
// its worker back at once; the open is answered when the client's answer comes, or the caller
// gives up, or the request stalls, or the daemon stops, whichever is first. An open for reading
// of a large file is answered once the client writes its first bytes, and its reads wait for
// theirs.
#include "ondemand/open.h"

#include "client/sync_client_connection.h"
#include "fuse/caller.h"
#include "fuse/errno_result.h"
#include "fuse/operation_log.h"
#include "fuse/operations.h"
#include "fuse/placeholder_record.h"
#include "ondemand/caller_filter.h"
#include "ondemand/waiting_open.h"
#include "startup/context.h"

#include <atomic>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <tessarn/tessarn.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Tessarn::Constants::States;

namespace TessarnFuse::Operations {

namespace {

constexpr auto operation = "open";

// The first request of a process gets id 13.
std::atomic<std::int32_t> lastRequestId{12};

// The caller's executable, read from /proc only when something uses it, and then only once:
// most opens need no name, and reading it costs more than the open itself.
class Requester {
public:
    explicit Requester(pid_t pid) : m_pid(pid) {}

    const std::string& name()
    {
        if (!m_name)
            m_name = processName(m_pid);
        return *m_name;
    }

private:
    pid_t m_pid;
    std::optional<std::string> m_name;
};

// A record in state Hydrating stands for content that another open's download is bringing:
// serving the empty file now would give the caller nothing where the record promises content.
bool needsHydration(States state)
{
    return state == States::Dehydrated || state == States::Hydrating;
}

// Only the sync client's user writes placeholders, and the daemon runs as that user. A record
// on someone else's file is that user's own doing: asking the client for the file id it names
// would hand them content that may not be theirs to read.
std::optional<uid_t> foreignOwner(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return static_cast<uid_t>(-1);
    if (st.st_uid == ::geteuid())
        return std::nullopt;
    return st.st_uid;
}

std::string requestedFile(const fs::path& recordPath)
{
    const auto& mountPoint = daemonContext()->mountPoint;
    if (recordPath.has_root_directory())
        return mountPoint.native() + recordPath.native();
    return (mountPoint / recordPath).native();
}

// A reader may begin with the first bytes while the rest comes, but a writer changes a file
// whose content is not all there, and a small file is there soon anyway.
bool streams(const fuse_file_info& fi, std::uint64_t size)
{
    const auto streamFrom = daemonContext()->streamFrom;
    return streamFrom > 0 && size >= streamFrom && (fi.flags & O_ACCMODE) == O_RDONLY &&
           !(fi.flags & O_TRUNC);
}

void requestHydration(fuse_req_t request, InodeRef inode, const fuse_file_info& fi,
                      const LogPath& path, const Tessarn::PlaceHolderAttributes& record,
                      const std::string& requester)
{
    const auto& fileId = record.fileId;
    auto message = std::make_shared<MsgData>(
        MsgData{"V2/HYDRATE_FILE", requestedFile(path.text()), fileId, ++lastRequestId, requester});
    logOperation(path, operation, 0, "Requesting hydration %s: %d", path.text().c_str(),
                 message->id);
    auto* streamFrom = streams(fi, record.size) ? &downloadsOf(request) : nullptr;
    auto waiter = std::make_shared<WaitingOpen>(request, std::move(inode), fi, path.text(),
                                                *currentCaller(), message->id, streamFrom);
    // From here on the request is the waiter's to answer.
    if (!socketThread().post(std::move(message), waiter))
        waiter->finished(HydrationEnd::NotQueued);
}

} // namespace

void open(fuse_req_t request, fuse_ino_t number, fuse_file_info* fi)
{
    const auto fd = descriptorOf(request, number);
    if (!fd)
        return replyResult(request, fd.error());
    const auto caller = currentCaller()->pid;
    Requester requester(caller);
    const LogPath path(fd.fd());
    if (operationLogEnabled())
        logOperation(path, operation, 0, "%d %s by %s", fi->flags, path.text().c_str(),
                     requester.name().c_str());
    // The sync client's own accesses never wait: it is the one that brings the content.
    if (fromSyncClient(request)) {
        logOperation(path, operation, 0, "Desktop client tries to access, bypassing!");
        return replyOpened(request, number, fd.fd(), *fi);
    }
    std::optional<Tessarn::PlaceHolderAttributes> record;
    try {
        record = placeholderRecord(fd.fd(), {});
    } catch (const UndecodableRecord& e) {
        logOperation(path, operation, -1, "Cannot decode the placeholder record: %s", e.what());
        return replyResult(request, -EIO);
    }
    if (!record)
        logOperation(path, operation, 0, "Not a placeholder file");
    if (!record || !needsHydration(record->state))
        return replyOpened(request, number, fd.fd(), *fi);
    if (const auto owner = foreignOwner(fd.fd())) {
        logOperation(path, operation, 0,
                     "Placeholder owned by uid %u, not the client's user: opening it as it is",
                     *owner);
        return replyOpened(request, number, fd.fd(), *fi);
    }
    const auto& name = requester.name();
    if (isIgnoredApp(name, daemonContext()->filters)) {
        logOperation(path, operation, 0, "blocked hydration for not permitted app %s",
                     name.c_str());
        return replyResult(request, -EPERM);
    }
    requestHydration(request, inodesOf(request).reference(number), *fi, path, *record, name);
}

} // namespace TessarnFuse::Operations
