// Opening a file in the mount: where files on demand happen. An open of a placeholder whose
// content is not here yet asks the sync client for it and waits, then opens the complete file.
#include "caller.h"
#include "context.h"
#include "errno_result.h"
#include "hydration_schedule.h"
#include "instances.h"
#include "operation_log.h"
#include "operations.h"
#include "paths.h"
#include "stop_signals.h"
#include "waiting_slot.h"

#include <atomic>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <tessarn.h>

namespace fs = std::filesystem;
using Tessarn::Constants::States;

namespace TessarnFuse::Operations {

namespace {

constexpr auto operation = "open";

// The first request of a process gets id 13.
std::atomic<std::int32_t> lastRequestId{12};
std::atomic<unsigned> waitingOpens{0};

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

int openUnderneath(const std::string& path, fuse_file_info* fi)
{
    const int fd = resultOf(::open(path.c_str(), fi->flags));
    if (fd < 0)
        return fd;
    fi->fh = static_cast<uint64_t>(fd);
    return 0;
}

// A record in state Hydrating stands for content that another open's download is bringing:
// serving the empty file now would give the caller nothing where the record promises content.
bool needsHydration(States state)
{
    return state == States::Dehydrated || state == States::Hydrating;
}

std::string requestedFile(const fs::path& recordPath)
{
    const auto& mountPoint = daemonContext()->mountPoint;
    if (recordPath.has_root_directory())
        return mountPoint.native() + recordPath.native();
    return (mountPoint / recordPath).native();
}

int waitForHydration(const std::string& path, std::int32_t id)
{
    const auto& jobs = jobTable();
    for (const auto delay : hydrationCheckDelays()) {
        if (!sleepUnlessStopping(delay)) {
            logOperation(path, operation, -1, "Daemon stopping, giving up job %d", id);
            return -ENOENT;
        }
        const auto status = jobs.get(id);
        if (!status) {
            logOperation(path, operation, 1, "Job queue does not have job %d", id);
            logOperation(path, operation, 1, "ERROR while retrieving: %d", -1);
            return -ENOENT;
        }
        logOperation(path, operation, 1, "Found in job queue %d", static_cast<int>(*status));
        switch (*status) {
        case JobStatus::Succeeded:
            logOperation(path, operation, 1, "Sucessfully finished job %d", id);
            logOperation(path, operation, 0, "-- open finished");
            return 0;
        case JobStatus::Failed:
            logOperation(path, operation, 0, "Failed job %d", id);
            logOperation(path, operation, 1, "ERROR while retrieving: %d", -1);
            return -ENOENT;
        case JobStatus::Queued:
        case JobStatus::Sent:
            break;
        }
    }
    logOperation(path, operation, 20, "TIMEOUT - no answer from client");
    return -ENOENT;
}

int requestHydration(const std::string& path, const Tessarn::PlaceHolderAttributes& record,
                     const std::string& requester)
{
    const WaitingSlot slot(waitingOpens, daemonContext()->maxWaitingOpens);
    if (!slot) {
        logOperation(path, operation, -1, "Too many opens waiting for hydration, refusing %s",
                     requester.c_str());
        return -EAGAIN;
    }
    auto request = std::make_shared<MsgData>(MsgData{"V2/HYDRATE_FILE", requestedFile(record.path),
                                                     record.fileId, ++lastRequestId, requester});
    logOperation(path, operation, 0, "Requesting hydration %s: %d", path.c_str(), request->id);
    socketThread().post(request);
    // However the wait ends, nobody asks for this request's entry again.
    const int result = waitForHydration(path, request->id);
    jobTable().remove(request->id);
    return result;
}

// 0 when the file may be opened as it is, else the open's failure.
int hydrateIfNeeded(const std::string& path, Requester& requester)
{
    std::optional<Tessarn::PlaceHolderAttributes> record;
    try {
        record = Tessarn::PlaceHolderAttributes::fromAttributes(path);
    } catch (const nlohmann::json::exception& e) {
        logOperation(path, operation, -1, "Cannot decode the placeholder record: %s", e.what());
        return -EIO;
    }
    if (!record) {
        logOperation(path, operation, 0, "Not a placeholder file");
        return 0;
    }
    if (!needsHydration(record->state))
        return 0;
    const auto& name = requester.name();
    if (isIgnoredApp(name, daemonContext()->filters)) {
        logOperation(path, operation, 0, "blocked hydration for not permitted app %s",
                     name.c_str());
        return -EPERM;
    }
    return requestHydration(path, *record, name);
}

} // namespace

int open(const char* fusePath, fuse_file_info* fi)
{
    const auto path = rootRelativePath(fusePath);
    const auto caller = fuse_get_context()->pid;
    Requester requester(caller);
    if (operationLogEnabled())
        logOperation(path, operation, 0, "%d %s by %s", fi->flags, path.c_str(),
                     requester.name().c_str());
    // The sync client's own accesses never wait: it is the one that brings the content.
    if (isDesktopClient(jobTable(), caller)) {
        logOperation(path, operation, 0, "Desktop client tries to access, bypassing!");
        return openUnderneath(path, fi);
    }
    const int hydration = hydrateIfNeeded(path, requester);
    return hydration < 0 ? hydration : openUnderneath(path, fi);
}

} // namespace TessarnFuse::Operations
