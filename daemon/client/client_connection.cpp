#include "client/client_connection.h"

#include "startup/console.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace TessarnFuse {

namespace {

constexpr std::size_t readChunk = 64 * 1024;
// A client that has just created its socket may not listen yet: the first tries come soon, then
// one a second, which costs nothing while no client runs.
constexpr auto firstRetry = std::chrono::milliseconds(50);
constexpr auto slowestRetry = std::chrono::milliseconds(1000);

} // namespace

ClientConnection::~ClientConnection()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ClientConnection::open(const std::string& path)
{
    m_path = path;
    m_watch.setSocket(path);
    if (m_path.size() > maxSocketPath) {
        printError("Not connecting: the socket path is longer than ", maxSocketPath,
                   " bytes: ", m_path);
        return false;
    }
    const int error = tryToConnect();
    if (error == 0)
        return true;
    printError("Not connected to the sync client at ", m_path, ": ", std::strerror(error),
               "; connecting when it listens there");
    retryLater(Clock::now(), true);
    return false;
}

bool ClientConnection::reconnect(const pollfd& polled, Clock::time_point now)
{
    if (!m_nextTry)
        return false;
    const bool appeared = polled.fd >= 0 && polled.fd == m_watch.fd() && polled.revents != 0 &&
                          m_watch.socketNamed();
    if (!appeared && now < *m_nextTry)
        return false;
    if (tryToConnect() == 0)
        return true;
    retryLater(now, appeared);
    return false;
}

void ClientConnection::retryLater(Clock::time_point now, bool soon)
{
    m_retryDelay = soon ? Clock::duration(firstRetry)
                        : std::min<Clock::duration>(m_retryDelay * 2, slowestRetry);
    m_nextTry = now + m_retryDelay;
    m_watch.watch();
}

int ClientConnection::msUntilRetry(Clock::time_point now) const
{
    if (connected() || !m_nextTry)
        return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*m_nextTry - now);
    return static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
}

int ClientConnection::tryToConnect()
{
    // Close-on-exec: FUSE's unmount helper must not keep the connection open after we close it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return errno;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, m_path.data(), m_path.size());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) < 0) {
        const int error = errno;
        // A socket that never connected would wake the worker's poll for ever.
        ::close(fd);
        return error;
    }
    m_fd = fd;
    m_watch.unwatch();
    learnClientPid();
    return 0;
}

// The kernel knows who listens at the other end: from this moment on the client's own opens
// are let through, without waiting for its VERSION answer.
void ClientConnection::learnClientPid()
{
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (::getsockopt(m_fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) < 0 || peer.pid <= 0) {
        printError("Cannot learn the sync client's process id: ", std::strerror(errno));
        return;
    }
    printLine("Connected to the Desktop Client, PID: ", peer.pid);
    m_clientPid = peer.pid;
}

pollfd ClientConnection::pollEntry() const
{
    if (!connected())
        return {m_watch.fd(), POLLIN, 0};
    return {m_fd, static_cast<short>(m_outgoing.empty() ? POLLIN : POLLIN | POLLOUT), 0};
}

bool ClientConnection::send(std::string line, std::int32_t id)
{
    if (m_fd < 0)
        return false;
    m_outgoing.push_back({std::move(line), id});
    return flush();
}

bool ClientConnection::flush()
{
    while (!m_outgoing.empty() && m_fd >= 0) {
        auto& next = m_outgoing.front();
        // MSG_NOSIGNAL: a client that has gone away is an error to report, not a SIGPIPE death.
        const auto count = ::send(m_fd, next.line.data() + next.written,
                                  next.line.size() - next.written, MSG_NOSIGNAL);
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (count < 0) {
            printError("write: ", std::strerror(errno));
            lose(nullptr);
            return false;
        }
        next.written += static_cast<std::size_t>(count);
        if (next.written < next.line.size())
            continue;
        printLine("Sent message: ", next.line);
        if (next.id > 0)
            printLine("Storing sent message ID", next.id);
        m_outgoing.pop_front();
    }
    return m_fd >= 0;
}

std::vector<std::string> ClientConnection::read()
{
    std::vector<std::string> lines;
    std::string buffer(readChunk, '\0');
    while (m_fd >= 0) {
        const auto count = ::read(m_fd, buffer.data(), buffer.size());
        if (count > 0) {
            take({buffer.data(), static_cast<std::size_t>(count)}, lines);
            continue;
        }
        if (count == 0) {
            lose("the sync client closed the connection");
            break;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EAGAIN && error != EWOULDBLOCK)
            lose(std::strerror(error));
        break;
    }
    return lines;
}

void ClientConnection::take(std::string_view bytes, std::vector<std::string>& lines)
{
    printLine("Message received: ", bytes);
    auto taken = m_incoming.feed(bytes);
    if (taken.droppedBytes > 0)
        printError("Dropping ", taken.droppedBytes, " bytes of an overlong line from the socket");
    lines.insert(lines.end(), std::make_move_iterator(taken.complete.begin()),
                 std::make_move_iterator(taken.complete.end()));
}

void ClientConnection::lose(const char* reason)
{
    if (reason)
        printError("Socket API connection lost: ", reason);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    // A process that gets the client's pid later is not the client.
    m_clientPid = 0;
    m_incoming.clear();
    m_outgoing.clear();
    retryLater(Clock::now(), true);
}

} // namespace TessarnFuse
