// The hydration requests that wait for the sync client's answer, and when they end without one:
// their caller gave up, they stalled, or what they wait for came through the mount. Beside them
// wait those that send the client nothing (a read of bytes still on their way, the watch of a
// download). The requests are the socket worker's: only its thread adds and takes them, apart
// from the stop, which comes after the worker has ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace TessarnFuse {

// How a request ends for whoever waits for it.
enum class HydrationEnd {
    Succeeded,  // the client answered "OK"
    Failed,     // an error answer, a request that could not be sent, a lost connection
    TimedOut,   // no answer and no progress for the stall limit
    Interrupted, // the caller gave up
    Stopping,   // the daemon stops
    NotQueued,  // no worker to send it
    Ready,      // what the waiter waits for came through the mount without an answer
};

struct HydrationOutcome {
    HydrationOutcome(HydrationEnd end, int namedError = 0) : end(end), namedError(namedError) {}

    HydrationEnd end;
    int namedError; // with Failed: the errno the client's answer named, 0 when it named none
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
    // After an interrupt: whether the caller is being ended or asked to stop (Ctrl-C, SIGTERM,
    // SIGHUP, SIGQUIT). Any other signal (a child's end, a timer) leaves the open waiting, as an
    // open of a plain file would not fail for it.
    virtual bool callerGivesUp() = 0;
    // Asked after a download moved: whether what the waiter waits for is there now (the first
    // bytes, a range of them, the download's end), so that its request ends as Ready.
    virtual bool ready() { return false; }
    virtual void finished(HydrationOutcome outcome) = 0;
};

using Waiters = std::vector<std::shared_ptr<HydrationWaiter>>;

class JobTable {
public:
    using Clock = std::chrono::steady_clock;

    // A request without answer or progress this long ends as timed out; zero means never.
    void setStallLimit(std::chrono::milliseconds limit) { m_stallLimit = limit; }

    void add(std::int32_t id, std::shared_ptr<HydrationWaiter> waiter, Clock::time_point now);
    // Ends a request: the waiter to tell, if it still waited.
    std::shared_ptr<HydrationWaiter> take(std::int32_t id);
    Waiters takeAll();
    bool empty() const;

    // The request's caller was interrupted: its waiter, taken, when the caller gives up; else
    // the caller is asked again at each recheck, since the kernel interrupts a request once.
    std::shared_ptr<HydrationWaiter> takeIfGivenUp(std::int32_t id);
    Waiters takeGivenUp();
    // Once a check is due, asks every request for progress and takes those without news for
    // the stall limit.
    Waiters takeStalled(Clock::time_point now);
    // The requests whose waiters are ready.
    Waiters takeReady();
    // How long the worker may sleep before a recheck or a stall check, -1 for as long as it
    // likes.
    int msUntilDue(Clock::time_point now) const;

private:
    struct Job {
        std::shared_ptr<HydrationWaiter> waiter;
        Clock::time_point lastNews;
    };

    // Under the lock: takes the requests whose jobs end.
    template <typename Ends>
    Waiters takeWhere(Ends&& ends);

    mutable std::mutex m_mutex;
    std::map<std::int32_t, Job> m_jobs;

    // The worker's own.
    std::chrono::milliseconds m_stallLimit{0};
    Clock::time_point m_nextStallCheck;
    std::set<std::int32_t> m_interrupted; // by a signal that did not end the caller (yet)
};

} // namespace TessarnFuse
