// The daemon's end of the sync client's socket: it connects, again whenever there is no
// connection, writes the lines it is given without ever blocking, and reads the client's lines
// the moment they come. The socket worker's own; only the client's process id is read by other
// threads, by every open.
#pragma once

#include "client/line_assembler.h"
#include "client/socket_watch.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

namespace TessarnFuse {

class ClientConnection {
public:
    using Clock = std::chrono::steady_clock;
    // The longest path that fits the address of a Unix socket with its terminating NUL.
    static constexpr std::size_t maxSocketPath = 107;

    ClientConnection() = default;
    ~ClientConnection();
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    // The first try; when it fails, says why on standard error. Whether it connected.
    bool open(const std::string& path);
    // Without a connection: tries again at once when the socket's name shows up in its folder,
    // else when the next try is due. Whether it connected just now.
    bool reconnect(const pollfd& polled, Clock::time_point now);
    bool connected() const { return m_fd >= 0; }
    // What the worker's poll watches: the socket, for writing too while lines wait; without a
    // connection, the socket's folder.
    pollfd pollEntry() const;
    // How long the worker may sleep before the next try, -1 for as long as it likes.
    int msUntilRetry(Clock::time_point now) const;

    // Queues the line and writes what the socket takes now; false when the connection is gone.
    bool send(std::string line, std::int32_t id);
    // Writes what the socket takes of the lines that wait; false when the connection is gone.
    bool flush();
    // Reads until the socket is drained: the client's complete lines, also those that came
    // before it closed the connection.
    std::vector<std::string> read();
    // Says why on standard error, when there is a reason to say.
    void lose(const char* reason);

    std::int64_t clientPid() const { return m_clientPid; }
    void setClientPid(std::int64_t pid) { m_clientPid = pid; }

private:
    struct Outgoing {
        std::string line;
        std::int32_t id;
        std::size_t written = 0;
    };

    // 0, or the reason the connection was not made.
    int tryToConnect();
    void retryLater(Clock::time_point now, bool soon);
    void learnClientPid();
    void take(std::string_view bytes, std::vector<std::string>& lines);

    std::string m_path;
    int m_fd = -1;
    SocketWatch m_watch;
    std::optional<Clock::time_point> m_nextTry; // nothing: never again
    Clock::duration m_retryDelay{};
    LineAssembler m_incoming;
    std::deque<Outgoing> m_outgoing;
    // Read by every open: no lock.
    std::atomic<std::int64_t> m_clientPid{0};
};

} // namespace TessarnFuse
