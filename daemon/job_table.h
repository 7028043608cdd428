// The statuses of hydration requests, shared between the socket worker that learns them and
// the opens that wait on them, plus the sync client's process id.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace TessarnFuse {

enum class JobStatus : std::int32_t {
    Failed = -1,
    Succeeded = 0,
    Sent = 1,
    // Known from the moment it is queued, so an open never mistakes a request the worker has
    // not written yet for a lost one.
    Queued = 2,
};

class JobTable {
public:
    void set(std::int32_t id, JobStatus status);
    std::optional<JobStatus> get(std::int32_t id) const;
    // Only an id that is still present changes: an open that gave up has removed it.
    bool update(std::int32_t id, JobStatus status);
    bool remove(std::int32_t id);
    // Every request still waiting for the client fails, once the connection is gone.
    void failWaiting();

    void setClientPid(std::int64_t pid);
    std::int64_t clientPid() const;

private:
    mutable std::mutex m_mutex;
    std::map<std::int32_t, JobStatus> m_statuses;
    std::int64_t m_clientPid = 0;
};

} // namespace TessarnFuse
