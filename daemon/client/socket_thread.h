// The worker that talks to the sync client. It owns the connection: it sends the requests posted
// to it, reads the answers the moment they arrive, and tells each request's waiter how it ended.
// No FUSE thread ever waits on socket I/O or on an answer.
#pragma once

#include "client/client_connection.h"
#include "client/job_table.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace TessarnFuse {

struct MsgData {
    std::string command;
    std::string file;
    std::string fileId;
    std::int32_t id = 0;
    std::string requester;
};

enum class MsgKind : std::int32_t { Exit = 1, UserData = 2, Interrupt = 4, Wait = 8, Moved = 16 };

struct ThreadMsg {
    MsgKind kind;
    std::shared_ptr<MsgData> data;
    std::shared_ptr<HydrationWaiter> waiter;
    std::int32_t id = 0;
};

class SocketThread {
public:
    SocketThread(std::string name, JobTable* jobs);
    ~SocketThread();
    SocketThread(const SocketThread&) = delete;
    SocketThread& operator=(const SocketThread&) = delete;

    // Starts the worker and connects, or says on standard error that it cannot yet. Without a
    // connection, requests fail, and the worker connects again as soon as it can. A request
    // without answer or progress for the stall limit ends as timed out; zero means never.
    bool start(const std::string& socketPath,
               std::chrono::milliseconds stallLimit = std::chrono::milliseconds::zero());
    // False when no worker runs to send it: the waiter is not told anything then.
    bool post(std::shared_ptr<MsgData> data, std::shared_ptr<HydrationWaiter> waiter = nullptr);
    // A waiter with nothing to send: it waits in the table under an id of its own until it is
    // ready, its caller gives up, it stalls, the connection is lost or the worker stops. Its id
    // is negative, which no answer of the client names. False when no worker runs: the waiter is
    // not told anything then.
    bool await(std::shared_ptr<HydrationWaiter> waiter);
    // The caller of that request gave up. Safe from any thread, and never blocks on I/O.
    void interrupt(std::int32_t id);
    // A download moved: the waiters that are ready now end. Safe from any thread.
    void downloadsMoved();
    // Ends the worker; every request still waiting ends as Stopping.
    void stop();

    // The sync client's process, 0 while none is known. Safe from any thread.
    std::int64_t clientPid() const { return m_connection.clientPid(); }

private:
    void run();
    void announce();
    int pollTimeout() const;
    void push(std::shared_ptr<ThreadMsg> message);
    bool handleInbox();
    void handleUserDataOrFail(const ThreadMsg& message);
    void handleUserData(const ThreadMsg& message);
    bool sendMessage(const MsgData& data);
    void serveConnection(const pollfd& polled);
    void finish(std::int32_t id, HydrationEnd end);
    void failWaitingRequests();
    void handleInterrupt(std::int32_t id);
    void handleWait(const ThreadMsg& message);
    // The requests whose callers gave up, that stalled, or whose waiters are ready.
    void endWithoutAnswer();

    std::thread m_worker;
    std::deque<std::shared_ptr<ThreadMsg>> m_queue;
    std::mutex m_queueMutex;
    int m_wake; // an eventfd: the queue has entries
    enum class Phase { NotStarted, Running, Stopped };
    std::atomic<Phase> m_phase{Phase::NotStarted};
    std::string m_name;
    std::promise<void> m_started;
    JobTable* m_jobs;
    std::atomic<std::uint32_t> m_waits{0}; // for the ids of those that send nothing

    // The worker's own, apart from the client's process id.
    ClientConnection m_connection;
    std::string m_socketPath;
    bool m_downloadsMoved = false; // since the waiters were last asked whether they are ready
};

} // namespace TessarnFuse
