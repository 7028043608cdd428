#include "client/socket_thread.h"

#include "client/client_answers.h"
#include "client/wire_format.h"
#include "startup/console.h"

#include <algorithm>
#include <csignal>
#include <nlohmann/json.hpp>
#include <sys/eventfd.h>
#include <utility>
#include <unistd.h>

namespace TessarnFuse {

namespace {
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

SocketThread::SocketThread(std::string name, JobTable* jobs)
    : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_name(std::move(name)), m_jobs(jobs)
{
}

SocketThread::~SocketThread()
{
    stop();
    ::close(m_wake);
}

bool SocketThread::start(const std::string& socketPath, std::chrono::milliseconds stallLimit)
{
    if (m_phase != Phase::NotStarted)
        return true;
    m_socketPath = socketPath;
    m_jobs->setStallLimit(stallLimit);
    auto started = m_started.get_future();
    {
        const AllSignalsBlocked forTheWorker;
        m_worker = std::thread(&SocketThread::run, this);
    }
    started.get();
    m_phase = Phase::Running;
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

bool SocketThread::await(std::shared_ptr<HydrationWaiter> waiter)
{
    if (m_phase != Phase::Running)
        return false;
    const auto id = -1 - static_cast<std::int32_t>(m_waits.fetch_add(1) % INT32_MAX);
    push(std::make_shared<ThreadMsg>(ThreadMsg{MsgKind::Wait, nullptr, std::move(waiter), id}));
    return true;
}

void SocketThread::interrupt(std::int32_t id)
{
    push(std::make_shared<ThreadMsg>(ThreadMsg{MsgKind::Interrupt, nullptr, nullptr, id}));
}

void SocketThread::downloadsMoved()
{
    push(std::make_shared<ThreadMsg>(ThreadMsg{MsgKind::Moved, nullptr, nullptr, 0}));
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
    if (m_connection.open(m_socketPath))
        announce();
    m_started.set_value();
    for (;;) {
        // A descriptor of -1 is left out.
        pollfd watched[2] = {{m_wake, POLLIN, 0}, m_connection.pollEntry()};
        const int ready = ::poll(watched, 2, pollTimeout());
        try {
            if (ready > 0 && (watched[0].revents & POLLIN) && !handleInbox())
                return;
            serveConnection(watched[1]);
            endWithoutAnswer();
        } catch (const std::exception& e) {
            printError("Socket worker: ", e.what());
        }
    }
}

// Each new connection begins with VERSION: the client's first line answers it.
void SocketThread::announce()
{
    push(std::make_shared<ThreadMsg>(ThreadMsg{
        MsgKind::UserData, std::make_shared<MsgData>(MsgData{versionCommand, "", "", 0, ""}),
        nullptr, 0}));
}

int SocketThread::pollTimeout() const
{
    const auto now = JobTable::Clock::now();
    const int jobs = m_jobs->msUntilDue(now);
    const int connection = m_connection.msUntilRetry(now);
    if (jobs < 0 || connection < 0)
        return std::max(jobs, connection);
    return std::min(jobs, connection);
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
        case MsgKind::Wait:
            handleWait(*message);
            break;
        case MsgKind::Moved:
            m_downloadsMoved = true;
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
        m_jobs->add(data.id, message.waiter, JobTable::Clock::now());
        message.waiter->waiting(data.id);
        // What it waits for may be on its way already.
        m_downloadsMoved = true;
    }
    const bool lost = !m_connection.connected();
    if (!sendMessage(data)) {
        printLine("Failed to send msg ", data.id, ": ", data.command);
        if (waited)
            finish(data.id, HydrationEnd::Failed);
    }
    if (!lost && !m_connection.connected())
        failWaitingRequests();
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
    return m_connection.send(std::move(line), data.id);
}

void SocketThread::serveConnection(const pollfd& polled)
{
    if (!m_connection.connected()) {
        if (m_connection.reconnect(polled, JobTable::Clock::now()))
            announce();
        return;
    }
    if (polled.fd != m_connection.pollEntry().fd)
        return;
    if (polled.revents & POLLOUT)
        m_connection.flush();
    if (polled.revents & (POLLIN | POLLHUP | POLLERR)) {
        for (const auto& line : m_connection.read())
            handleClientLine(line, *m_jobs, m_connection);
    }
    if (!m_connection.connected())
        failWaitingRequests();
}

// Nobody is left to answer them.
void SocketThread::failWaitingRequests()
{
    for (const auto& waiter : m_jobs->takeAll())
        waiter->finished(HydrationEnd::Failed);
}

void SocketThread::finish(std::int32_t id, HydrationEnd end)
{
    if (const auto waiter = m_jobs->take(id))
        waiter->finished(end);
}

void SocketThread::handleInterrupt(std::int32_t id)
{
    if (const auto waiter = m_jobs->takeIfGivenUp(id))
        waiter->finished(HydrationEnd::Interrupted);
}

// Bytes may have arrived while it was on its way here.
void SocketThread::handleWait(const ThreadMsg& message)
{
    m_jobs->add(message.id, message.waiter, JobTable::Clock::now());
    message.waiter->waiting(message.id);
    m_downloadsMoved = true;
}

void SocketThread::endWithoutAnswer()
{
    if (std::exchange(m_downloadsMoved, false)) {
        for (const auto& waiter : m_jobs->takeReady())
            waiter->finished(HydrationEnd::Ready);
    }
    for (const auto& waiter : m_jobs->takeGivenUp())
        waiter->finished(HydrationEnd::Interrupted);
    for (const auto& waiter : m_jobs->takeStalled(JobTable::Clock::now()))
        waiter->finished(HydrationEnd::TimedOut);
}

} // namespace TessarnFuse
