#include "client/socket_thread.h"

#include "startup/console.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace TessarnFuse {

namespace {
constexpr auto resultCommand = "V2/HYDRATE_FILE_RESULT";
constexpr auto versionCommand = "VERSION";
constexpr std::size_t readChunk = 64 * 1024;

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

// Often enough that a stalled request ends within a quarter of the limit after it, seldom
// enough that many waiting requests cost little.
std::chrono::milliseconds stallCheckInterval(std::chrono::milliseconds limit)
{
    return std::clamp(limit / 4, std::chrono::milliseconds(50), std::chrono::milliseconds(60000));
}
} // namespace

SocketThread::SocketThread(std::string name, JobTable* jobs)
    : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_name(std::move(name)), m_jobs(jobs)
{
}

SocketThread::~SocketThread()
{
    stop();
    if (m_socket >= 0)
        ::close(m_socket);
    ::close(m_wake);
}

bool SocketThread::start(const std::string& socketPath, std::chrono::milliseconds stallLimit)
{
    if (m_phase != Phase::NotStarted)
        return true;
    m_stallLimit = stallLimit;
    auto started = m_started.get_future();
    {
        const AllSignalsBlocked forTheWorker;
        m_worker = std::thread(&SocketThread::run, this);
    }
    started.get();
    m_phase = Phase::Running;
    connectSocket(socketPath);
    return true;
}

bool SocketThread::post(std::shared_ptr<MsgData> data, std::shared_ptr<HydrationWaiter> waiter)
{
    if (m_phase != Phase::Running)
        return false;
    push(std::make_shared<ThreadMsg>(
        ThreadMsg{MsgKind::UserData, std::move(data), std::move(waiter), 0}));
    return true;
}

void SocketThread::interrupt(std::int32_t id)
{
    push(std::make_shared<ThreadMsg>(ThreadMsg{MsgKind::Interrupt, nullptr, nullptr, id}));
}

void SocketThread::push(std::shared_ptr<ThreadMsg> message)
{
    {
        std::lock_guard lock(m_queueMutex);
        m_queue.push_back(std::move(message));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_wake, &one, sizeof(one));
}

void SocketThread::stop()
{
    if (!m_worker.joinable())
        return;
    push(std::make_shared<ThreadMsg>(ThreadMsg{MsgKind::Exit, nullptr, nullptr, 0}));
    m_phase = Phase::Stopped;
    m_worker.join();

    std::deque<std::shared_ptr<ThreadMsg>> unsent;
    {
        std::lock_guard lock(m_queueMutex);
        unsent.swap(m_queue);
    }
    // Nobody else will ever answer them, and every FUSE request needs its reply.
    for (const auto& waiter : m_jobs->takeAll())
        waiter->finished(HydrationEnd::Stopping);
    for (const auto& message : unsent) {
        if (message->waiter)
            message->waiter->finished(HydrationEnd::Stopping);
    }
}

void SocketThread::run()
{
    m_started.set_value();
    for (;;) {
        const int socket = m_socket;
        pollfd watched[2] = {{m_wake, POLLIN, 0}, {socket, POLLIN, 0}};
        if (!m_outgoing.empty())
            watched[1].events |= POLLOUT;
        const int ready = ::poll(watched, socket >= 0 ? 2 : 1, pollTimeout());
        try {
            if (ready > 0 && (watched[0].revents & POLLIN) && !handleInbox())
                return;
            if (ready > 0 && socket >= 0 && socket == m_socket) {
                if (watched[1].revents & POLLOUT)
                    flushOutgoing();
                if (watched[1].revents & (POLLIN | POLLHUP | POLLERR))
                    readSocket();
            }
            recheckInterrupted();
            checkStalls();
        } catch (const std::exception& e) {
            printError("Socket worker: ", e.what());
        }
    }
}

// False once the worker must end.
bool SocketThread::handleInbox()
{
    std::uint64_t count;
    [[maybe_unused]] const auto taken = ::read(m_wake, &count, sizeof(count));
    std::deque<std::shared_ptr<ThreadMsg>> messages;
    {
        std::lock_guard lock(m_queueMutex);
        messages.swap(m_queue);
    }
    while (!messages.empty()) {
        const auto message = std::move(messages.front());
        messages.pop_front();
        switch (message->kind) {
        case MsgKind::UserData:
            handleUserDataOrFail(*message);
            break;
        case MsgKind::Interrupt:
            handleInterrupt(message->id);
            break;
        case MsgKind::Exit: {
            // What came after the exit is the stop's to end.
            std::lock_guard lock(m_queueMutex);
            m_queue.insert(m_queue.begin(), messages.begin(), messages.end());
            return false;
        }
        }
    }
    return true;
}

// A request the worker could not take on still gets its answer: its caller must not hang.
void SocketThread::handleUserDataOrFail(const ThreadMsg& message)
{
    try {
        handleUserData(message);
    } catch (const std::exception& e) {
        printError("Socket worker: request ", message.data->id, " failed: ", e.what());
        if (message.waiter) {
            m_jobs->take(message.data->id);
            message.waiter->finished(HydrationEnd::Failed);
        }
    }
}

void SocketThread::handleUserData(const ThreadMsg& message)
{
    const auto& data = *message.data;
    printLine("Received user data message");
    printLine("Sending ", data.id, ": ", data.command, " ", data.file, " on ", m_name);
    const bool waited = data.id > 0 && message.waiter;
    if (waited) {
        const auto now = JobTable::Clock::now();
        // No request can have stalled before a whole interval has passed.
        if (m_stallLimit.count() > 0 && m_jobs->empty())
            m_nextStallCheck = now + stallCheckInterval(m_stallLimit);
        m_jobs->add(data.id, message.waiter, now);
        message.waiter->waiting(data.id);
    }
    if (!sendMessage(data)) {
        printLine("Failed to send msg ", data.id, ": ", data.command);
        if (waited)
            finish(data.id, HydrationEnd::Failed);
    }
}

void SocketThread::finish(std::int32_t id, HydrationEnd end)
{
    if (const auto waiter = m_jobs->take(id))
        waiter->finished(end);
}

void SocketThread::handleInterrupt(std::int32_t id)
{
    const auto waiter = m_jobs->find(id);
    if (!waiter)
        return;
    if (waiter->callerDying())
        finish(id, HydrationEnd::Interrupted);
    else
        m_interrupted.insert(id);
}

// The kernel interrupts a request once: a caller that a later signal ends is seen here.
void SocketThread::recheckInterrupted()
{
    for (auto id = m_interrupted.begin(); id != m_interrupted.end();) {
        const auto waiter = m_jobs->find(*id);
        if (waiter && !waiter->callerDying()) {
            ++id;
            continue;
        }
        if (waiter)
            finish(*id, HydrationEnd::Interrupted);
        id = m_interrupted.erase(id);
    }
}

void SocketThread::checkStalls()
{
    if (m_stallLimit.count() == 0 || m_jobs->empty())
        return;
    const auto now = JobTable::Clock::now();
    if (now < m_nextStallCheck)
        return;
    m_nextStallCheck = now + stallCheckInterval(m_stallLimit);
    for (const auto& waiter : m_jobs->takeStalled(now, m_stallLimit))
        waiter->finished(HydrationEnd::TimedOut);
}

int SocketThread::pollTimeout() const
{
    constexpr int interruptedRecheckMs = 50;
    if (!m_interrupted.empty())
        return interruptedRecheckMs;
    if (m_stallLimit.count() == 0 || m_jobs->empty())
        return -1;
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(m_nextStallCheck - JobTable::Clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, INT32_MAX));
}

bool SocketThread::connectSocket(const std::string& path)
{
    if (path.size() > maxSocketPath) {
        printError("Not connecting: the socket path is longer than ", maxSocketPath,
                   " bytes: ", path);
        return false;
    }
    // Close-on-exec: FUSE's unmount helper must not keep the connection open after we close it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) < 0) {
        // A socket that never connected would wake the worker's poll for ever.
        ::close(fd);
        return false;
    }
    m_socket = fd;
    learnClientPid(fd);
    post(std::make_shared<MsgData>(MsgData{versionCommand, "", "", 0, ""}));
    return true;
}

// The kernel knows who listens at the other end: from this moment on the client's own opens
// are let through, without waiting for its VERSION answer.
void SocketThread::learnClientPid(int fd)
{
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) < 0 || peer.pid <= 0) {
        printError("Cannot learn the sync client's process id: ", std::strerror(errno));
        return;
    }
    printLine("Connected to the Desktop Client, PID: ", peer.pid);
    m_jobs->setClientPid(peer.pid);
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
    m_outgoing.push_back({std::move(line), data.id});
    return flushOutgoing();
}

// Writes what the socket takes now; the rest waits until it takes more. False when the
// connection is gone.
bool SocketThread::flushOutgoing()
{
    while (!m_outgoing.empty()) {
        auto& next = m_outgoing.front();
        // MSG_NOSIGNAL: a client that has gone away is an error to report, not a SIGPIPE death.
        const auto count = ::send(m_socket, next.line.data() + next.written,
                                  next.line.size() - next.written, MSG_NOSIGNAL);
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (count < 0) {
            printError("write: ", std::strerror(errno));
            connectionLost(nullptr);
            return false;
        }
        next.written += static_cast<std::size_t>(count);
        if (next.written < next.line.size())
            continue;
        printLine("Sent message: ", next.line);
        if (next.id > 0 && m_jobs->update(next.id, JobStatus::Sent))
            printLine("Storing sent message ID", next.id);
        m_outgoing.pop_front();
    }
    return true;
}

void SocketThread::readSocket()
{
    std::string buffer(readChunk, '\0');
    // Until the socket is drained: answers are handled the moment they are here.
    while (m_socket >= 0) {
        const auto count = ::read(m_socket, buffer.data(), buffer.size());
        if (count > 0) {
            const std::string_view bytes(buffer.data(), static_cast<std::size_t>(count));
            printLine("Message received: ", bytes);
            handleMessages(bytes);
            continue;
        }
        if (count == 0) {
            connectionLost("the sync client closed the connection");
            return;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EAGAIN && error != EWOULDBLOCK)
            connectionLost(std::strerror(error));
        return;
    }
}

void SocketThread::connectionLost(const char* reason)
{
    if (reason)
        printError("Socket API connection lost: ", reason);
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    // A process that gets the client's pid later is not the client.
    m_jobs->setClientPid(0);
    m_incoming.clear();
    m_outgoing.clear();
    for (const auto& waiter : m_jobs->takeAll())
        waiter->finished(HydrationEnd::Failed);
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
    const auto waiter = m_jobs->take(static_cast<std::int32_t>(*id));
    if (!waiter) {
        printLine("Job not found:", *id);
        return;
    }
    printLine("Setting Job ID ", *id, " to result ", static_cast<int>(result));
    waiter->finished(result == JobStatus::Succeeded ? HydrationEnd::Succeeded
                                                    : HydrationEnd::Failed);
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
