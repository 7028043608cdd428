// The one connection to the sync client's socket API. A worker thread owns the socket: it sends
// the requests posted to it, reads the answers the moment they arrive, and tells each request's
// waiter how it ended. No FUSE thread ever waits on socket I/O or on an answer.
#pragma once

#include "client/job_table.h"
#include "client/wire_format.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <set>
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

enum class MsgKind : std::int32_t { Exit = 1, UserData = 2, Interrupt = 4 };

struct ThreadMsg {
    MsgKind kind;
    std::shared_ptr<MsgData> data;
    std::shared_ptr<HydrationWaiter> waiter;
    std::int32_t id = 0;
};

class SocketThread {
public:
    // The longest path that fits the address of a Unix socket with its terminating NUL.
    static constexpr std::size_t maxSocketPath = 107;

    SocketThread(std::string name, JobTable* jobs);
    ~SocketThread();
    SocketThread(const SocketThread&) = delete;
    SocketThread& operator=(const SocketThread&) = delete;

    // Starts the worker and connects; a failed connection only makes later sends fail. A request
    // without answer or progress for the stall limit ends as timed out; zero means never.
    bool start(const std::string& socketPath,
               std::chrono::milliseconds stallLimit = std::chrono::milliseconds::zero());
    // False when no worker runs to send it: the waiter is not told anything then.
    bool post(std::shared_ptr<MsgData> data, std::shared_ptr<HydrationWaiter> waiter = nullptr);
    // The caller of that request gave up. Safe from any thread, and never blocks on I/O.
    void interrupt(std::int32_t id);
    // Ends the worker; every request still waiting ends as Stopping.
    void stop();

private:
    struct Outgoing {
        std::string line;
        std::int32_t id;
        std::size_t written = 0;
    };

    void run();
    void push(std::shared_ptr<ThreadMsg> message);
    bool handleInbox();
    void handleUserDataOrFail(const ThreadMsg& message);
    void handleUserData(const ThreadMsg& message);
    void finish(std::int32_t id, HydrationEnd end);
    void handleInterrupt(std::int32_t id);
    void recheckInterrupted();
    void checkStalls();
    int pollTimeout() const;

    bool connectSocket(const std::string& path);
    void learnClientPid(int fd);
    bool sendMessage(const MsgData& data);
    bool flushOutgoing();
    void readSocket();
    void connectionLost(const char* reason);

    void handleMessages(std::string_view bytes);
    void handleLine(const std::string& line);
    void handleResult(const std::string& payload);
    void handleVersion(std::string_view payload);

    std::thread m_worker;
    std::deque<std::shared_ptr<ThreadMsg>> m_queue;
    std::mutex m_queueMutex;
    int m_wake; // an eventfd: the queue has entries
    enum class Phase { NotStarted, Running, Stopped };
    std::atomic<Phase> m_phase{Phase::NotStarted};
    std::string m_name;
    std::promise<void> m_started;
    std::atomic<std::int32_t> m_socket{-1};
    JobTable* m_jobs;

    // The worker's own.
    std::chrono::milliseconds m_stallLimit{0};
    JobTable::Clock::time_point m_nextStallCheck;
    LineAssembler m_incoming;
    std::deque<Outgoing> m_outgoing;
    std::set<std::int32_t> m_interrupted; // by a signal that did not end the caller (yet)
};

} // namespace TessarnFuse
