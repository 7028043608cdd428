// The hydration requests that wait for the sync client's answer, and the client's process id.
// The requests are the socket worker's: only its thread adds, changes and takes them, apart from
// the stop, which comes after the worker has ended.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace TessarnFuse {

enum class JobStatus : std::int32_t {
    Failed = -1,
    Succeeded = 0,
    Sent = 1,
    // Taken over by the worker, its line not yet (wholly) written.
    Queued = 2,
};

// How a request ends for whoever waits for it.
enum class HydrationEnd {
    Succeeded,  // the client answered "OK"
    Failed,     // an error answer, a request that could not be sent, a lost connection
    TimedOut,   // no answer and no progress for the stall limit
    Interrupted, // the caller gave up
    Stopping,   // the daemon stops
    NotQueued,  // no worker to send it
};

// Whoever waits for a request: told its end, and asked about the download's progress while no
// answer has come. The first end told is the one that counts: after a failure of the worker
// itself a second may follow.
class HydrationWaiter {
public:
    virtual ~HydrationWaiter() = default;
    // The request is in the table: an interrupt for its id reaches it from now on.
    virtual void waiting(std::int32_t id) = 0;
    // Whether the download went on since the last time this was asked.
    virtual bool progressed() = 0;
    // After an interrupt: whether the caller is being ended. Any other signal (a child's end, a
    // timer) leaves the open waiting, as an open of a plain file would not fail for it.
    virtual bool callerDying() = 0;
    virtual void finished(HydrationEnd end) = 0;
};

class JobTable {
public:
    using Clock = std::chrono::steady_clock;

    struct Job {
        std::shared_ptr<HydrationWaiter> waiter;
        JobStatus status = JobStatus::Queued;
        Clock::time_point lastNews;
    };

    void add(std::int32_t id, std::shared_ptr<HydrationWaiter> waiter, Clock::time_point now);
    std::optional<JobStatus> get(std::int32_t id) const;
    // Only an id that is still present changes: one that ended stays ended.
    bool update(std::int32_t id, JobStatus status);
    // Ends a request: the waiter to tell, if it still waited.
    std::shared_ptr<HydrationWaiter> take(std::int32_t id);
    std::shared_ptr<HydrationWaiter> find(std::int32_t id) const;
    std::vector<std::shared_ptr<HydrationWaiter>> takeAll();
    // Asks every waiting request for progress; takes those without news for the limit.
    std::vector<std::shared_ptr<HydrationWaiter>> takeStalled(Clock::time_point now,
                                                              Clock::duration limit);
    bool empty() const;

    void setClientPid(std::int64_t pid) { m_clientPid = pid; }
    std::int64_t clientPid() const { return m_clientPid; }

private:
    mutable std::mutex m_mutex;
    std::map<std::int32_t, Job> m_jobs;
    // Read by every open: no lock.
    std::atomic<std::int64_t> m_clientPid{0};
};

} // namespace TessarnFuse
