#include "socket_thread.h"

#include "console.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace TessarnFuse {

namespace {
constexpr std::size_t readChunk = 1023;
constexpr auto resultCommand = "V2/HYDRATE_FILE_RESULT";
constexpr auto versionCommand = "VERSION";

// Signals are for the main thread, whose wait in the FUSE loop they must interrupt: threads
// started while this lives block them all. The caller's own mask comes back however it ends.
class AllSignalsBlocked {
public:
    AllSignalsBlocked()
    {
        sigset_t all;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &m_previous);
    }
    ~AllSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
    AllSignalsBlocked(const AllSignalsBlocked&) = delete;
    AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

private:
    sigset_t m_previous;
};
} // namespace

SocketThread::SocketThread(std::string name, JobTable* jobs, std::chrono::milliseconds tickPeriod)
    : m_name(std::move(name)), m_jobs(jobs), m_tickPeriod(tickPeriod)
{
}

SocketThread::~SocketThread()
{
    stop();
    if (m_socket >= 0)
        ::close(m_socket);
}

bool SocketThread::start(const std::string& socketPath)
{
    if (m_phase != Phase::NotStarted)
        return true;
    auto started = m_started.get_future();
    {
        const AllSignalsBlocked forTheWorkerAndItsTimer;
        m_worker = std::thread(&SocketThread::run, this);
    }
    started.get();
    m_phase = Phase::Running;
    connectSocket(socketPath);
    return true;
}

void SocketThread::post(std::shared_ptr<MsgData> data)
{
    // Without a running worker nothing would ever send it: no entry, so its open fails at its
    // first check.
    if (m_phase != Phase::Running)
        return;
    if (data->id > 0)
        m_jobs->set(data->id, JobStatus::Queued);
    push(std::make_shared<ThreadMsg>(ThreadMsg{MsgKind::UserData, std::move(data)}));
}

void SocketThread::push(std::shared_ptr<ThreadMsg> message)
{
    std::lock_guard lock(m_queueMutex);
    m_queue.push_back(std::move(message));
    m_queueSignal.notify_one();
}

void SocketThread::stop()
{
    if (!m_worker.joinable())
        return;
    push(std::make_shared<ThreadMsg>(ThreadMsg{MsgKind::Exit, nullptr}));
    m_phase = Phase::Stopped;
    m_worker.join();

    std::deque<std::shared_ptr<ThreadMsg>> unsent;
    {
        std::lock_guard lock(m_queueMutex);
        unsent.swap(m_queue);
    }
    // A request that slipped in while stopping would otherwise keep its open waiting.
    for (const auto& message : unsent) {
        if (message->kind == MsgKind::UserData && message->data->id > 0)
            m_jobs->update(message->data->id, JobStatus::Failed);
    }
}

void SocketThread::run()
{
    m_started.set_value();
    m_tickStop = false;
    try {
        m_tick = std::thread(&SocketThread::tickLoop, this);
    } catch (const std::exception& e) {
        printError("Socket worker: no timer, answers will not be read: ", e.what());
    }
    for (;;) {
        std::shared_ptr<ThreadMsg> message;
        {
            std::unique_lock lock(m_queueMutex);
            m_queueSignal.wait(lock, [this] { return !m_queue.empty(); });
            message = std::move(m_queue.front());
            m_queue.pop_front();
        }
        try {
            switch (message->kind) {
            case MsgKind::UserData:
                handleUserData(*message->data);
                break;
            case MsgKind::Tick:
                handleTick();
                break;
            case MsgKind::Exit:
                m_tickStop = true;
                if (m_tick.joinable())
                    m_tick.join();
                return;
            }
        } catch (const std::exception& e) {
            printError("Socket worker: ", e.what());
        }
    }
}

void SocketThread::tickLoop()
{
    try {
        while (!m_tickStop) {
            std::this_thread::sleep_for(m_tickPeriod);
            push(std::make_shared<ThreadMsg>(ThreadMsg{MsgKind::Tick, nullptr}));
        }
    } catch (const std::exception& e) {
        printError("Socket worker's timer stopped, answers will not be read: ", e.what());
    }
}

void SocketThread::handleUserData(const MsgData& data)
{
    printLine("Received user data message");
    printLine("Sending ", data.id, ": ", data.command, " ", data.file, " on ", m_name);
    if (!sendMessage(data)) {
        printLine("Failed to send msg ", data.id, ": ", data.command);
        if (data.id > 0)
            m_jobs->update(data.id, JobStatus::Failed);
        return;
    }
    if (data.id > 0) {
        m_jobs->update(data.id, JobStatus::Sent);
        printLine("Storing sent message ID", data.id);
    }
}

void SocketThread::handleTick()
{
    const auto bytes = readSocket();
    if (bytes.empty())
        return;
    printLine("Message received: ", bytes);
    handleMessages(bytes);
}

bool SocketThread::connectSocket(const std::string& path)
{
    if (path.size() > maxSocketPath) {
        printError("Not connecting: the socket path is longer than ", maxSocketPath,
                   " bytes: ", path);
        return false;
    }
    // Close-on-exec: FUSE's unmount helper must not keep the connection open after we close it.
    m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0)
        return false;
    ::fcntl(m_socket, F_SETFL, ::fcntl(m_socket, F_GETFL) | O_NONBLOCK);

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (::connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) < 0)
        return false;

    post(std::make_shared<MsgData>(MsgData{versionCommand, "", "", 0, ""}));
    return true;
}

bool SocketThread::sendMessage(const MsgData& data)
{
    if (data.command.empty())
        return false;
    std::string line;
    try {
        line = requestLine(data);
    } catch (const nlohmann::json::exception& e) {
        printError("Refusing request ", data.id, " that cannot be written as JSON: ", e.what());
        return false;
    }
    printLine("Raw message: ", line);
    // MSG_NOSIGNAL: a client that has gone away is an error to report, not a SIGPIPE death.
    if (::send(m_socket, line.data(), line.size(), MSG_NOSIGNAL) < 0) {
        printError("write: ", std::strerror(errno));
        connectionLost(nullptr);
        return false;
    }
    printLine("Sent message: ", line);
    return true;
}

std::string SocketThread::readSocket()
{
    if (m_socket < 0)
        return {};
    char buffer[readChunk + 1];
    const auto count = ::read(m_socket, buffer, readChunk);
    if (count > 0)
        return std::string(buffer, static_cast<std::size_t>(count));
    // Other errors (nothing to read yet, a socket that never connected) are no news.
    if (count == 0)
        connectionLost("the sync client closed the connection");
    else if (errno == ECONNRESET)
        connectionLost(std::strerror(errno));
    return {};
}

void SocketThread::connectionLost(const char* reason)
{
    if (reason)
        printError("Socket API connection lost: ", reason);
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    m_incoming.clear();
    m_jobs->failWaiting();
}

void SocketThread::handleMessages(std::string_view bytes)
{
    const auto lines = m_incoming.feed(bytes);
    if (lines.droppedBytes > 0)
        printError("Dropping ", lines.droppedBytes, " bytes from the socket without a line end");
    for (const auto& line : lines.complete)
        handleLine(line);
}

void SocketThread::handleLine(const std::string& line)
{
    printLine("Handle single message ", line);
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
        printError("Invalid message format: ", line);
        return;
    }
    const auto command = line.substr(0, colon);
    const auto payload = line.substr(colon + 1);
    if (command == resultCommand)
        handleResult(payload);
    else if (command == versionCommand)
        handleVersion(payload);
}

void SocketThread::handleResult(const std::string& payload)
{
    HydrationAnswer answer;
    try {
        answer = parseHydrationAnswer(payload);
    } catch (const nlohmann::json::exception& e) {
        printError("Invalid JSON message: ", payload, e.what());
        return;
    }
    const auto id = parseDecimal(answer.id, INT32_MIN, INT32_MAX);
    if (!id) {
        printError("Invalid request id in message: ", payload);
        return;
    }
    if (answer.error)
        printError("Error from socket API for Id ", *id, ": ", *answer.error);
    if (*id <= 0)
        return;

    auto result = JobStatus::Succeeded;
    if (answer.error || answer.status != "OK") {
        result = JobStatus::Failed;
        printLine("ERROR from socket API for Id", *id);
    }
    if (m_jobs->update(static_cast<std::int32_t>(*id), result))
        printLine("Setting Job ID ", *id, " to result ", static_cast<int>(result));
    else
        printLine("Job not found:", *id);
}

void SocketThread::handleVersion(std::string_view payload)
{
    const auto fields = splitAt(payload, ':');
    if (fields.size() != 3)
        return;
    printLine("Got PID of the Desktop Client: ", fields[2]);
    const auto pid = parseDecimal(fields[2], INT64_MIN, INT64_MAX);
    if (!pid) {
        printError("Invalid process id in the VERSION answer: ", fields[2]);
        return;
    }
    m_jobs->setClientPid(*pid);
}

} // namespace TessarnFuse
