// The one connection to the sync client's socket API. A worker thread owns the socket and
// serialises all traffic through a queue, so no FUSE thread ever waits on socket I/O.
#pragma once

#include "job_table.h"
#include "wire_format.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
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

enum class MsgKind : std::int32_t { Exit = 1, UserData = 2, Tick = 3 };

struct ThreadMsg {
    MsgKind kind;
    std::shared_ptr<MsgData> data;
};

class SocketThread {
public:
    static constexpr std::chrono::milliseconds defaultTickPeriod{250};
    // The longest path that fits the address of a Unix socket with its terminating NUL.
    static constexpr std::size_t maxSocketPath = 107;

    SocketThread(std::string name, JobTable* jobs,
                 std::chrono::milliseconds tickPeriod = defaultTickPeriod);
    ~SocketThread();
    SocketThread(const SocketThread&) = delete;
    SocketThread& operator=(const SocketThread&) = delete;

    // Starts the worker and connects; a failed connection only makes later sends fail.
    bool start(const std::string& socketPath);
    void post(std::shared_ptr<MsgData> data);
    void stop();

private:
    void run();
    void tickLoop();
    void push(std::shared_ptr<ThreadMsg> message);
    void handleUserData(const MsgData& data);
    void handleTick();

    bool connectSocket(const std::string& path);
    bool sendMessage(const MsgData& data);
    std::string readSocket();
    void connectionLost(const char* reason);

    void handleMessages(std::string_view bytes);
    void handleLine(const std::string& line);
    void handleResult(const std::string& payload);
    void handleVersion(std::string_view payload);

    std::thread m_worker;
    std::deque<std::shared_ptr<ThreadMsg>> m_queue;
    std::mutex m_queueMutex;
    std::condition_variable m_queueSignal;
    enum class Phase { NotStarted, Running, Stopped };
    std::atomic<Phase> m_phase{Phase::NotStarted};
    std::atomic<bool> m_tickStop{false};
    std::string m_name;
    std::promise<void> m_started;
    std::atomic<std::int32_t> m_socket{-1};
    JobTable* m_jobs;

    std::thread m_tick;
    std::chrono::milliseconds m_tickPeriod;
    LineAssembler m_incoming; // touched by the worker only
};

} // namespace TessarnFuse
