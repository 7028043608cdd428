#include "socket_api.h"

#include "report.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace SyncHost {

namespace {

// The empty text when the path may become our socket: nothing is there, or a socket that a
// crashed run left behind, which nobody answers on any more and which is removed. Any other
// file stays untouched: the path may be mistyped.
QString clearSocketPath(const QString& socketPath)
{
    const QByteArray path = QFile::encodeName(socketPath);
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0)
        return errno == ENOENT ? QString() : QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISSOCK(status.st_mode))
        return QStringLiteral("a file that is not a socket is there");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(path.size()) >= sizeof(address.sun_path))
        return QStringLiteral("the path is too long for a socket");
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int connected = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    const int connectError = errno;
    ::close(probe);
    if (connected == 0)
        return QStringLiteral("another program serves it");
    if (connectError != ECONNREFUSED)
        return QString::fromLocal8Bit(std::strerror(connectError));
    return QFile::remove(socketPath) ? QString() : QStringLiteral("cannot remove the old socket");
}

// The daemon is our child: the plug-in starts it.
bool madeByOurChild(const QLocalSocket& connection)
{
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (::getsockopt(int(connection.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) !=
        0)
        return false;
    QFile status(QStringLiteral("/proc/%1/status").arg(peer.pid));
    return status.open(QIODevice::ReadOnly) &&
           status.readAll().contains(
               QStringLiteral("\nPPid:\t%1\n").arg(QCoreApplication::applicationPid()).toUtf8());
}

} // namespace

SocketApiServer::SocketApiServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QLocalServer::newConnection, this, &SocketApiServer::acceptConnections);
}

SocketApiServer::~SocketApiServer()
{
    close();
}

bool SocketApiServer::listen(const QString& socketPath, QString* failure)
{
    // Only this user may ask us to download files into the folder.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (const QString obstacle = clearSocketPath(socketPath); !obstacle.isEmpty()) {
        *failure = obstacle;
        return false;
    }
    if (m_server.listen(socketPath))
        return true;
    *failure = m_server.errorString();
    return false;
}

void SocketApiServer::close()
{
    m_server.close();
    for (QLocalSocket* connection : m_buffers.keys())
        connection->abort();
}

void SocketApiServer::answer(const AnswerChannel& channel, const QByteArray& line)
{
    // Straight to the socket: a stop aborts the connections, and what Qt still held would
    // be lost, leaving the daemon's open waiting for an answer that never comes.
    if (channel && channel->state() == QLocalSocket::ConnectedState) {
        channel->write(line);
        channel->flush();
    }
}

void SocketApiServer::acceptConnections()
{
    while (QLocalSocket* connection = m_server.nextPendingConnection()) {
        m_buffers.insert(connection, LineBuffer());
        const bool fromDaemon = madeByOurChild(*connection);
        connect(connection, &QLocalSocket::readyRead, this,
                [this, connection] { readFrom(connection); });
        if (fromDaemon)
            Q_EMIT daemonConnected();
        connect(connection, &QLocalSocket::disconnected, this, [this, connection, fromDaemon] {
            m_buffers.remove(connection);
            connection->deleteLater();
            // Connections we close ourselves, at the stop, are no news.
            if (fromDaemon && m_server.isListening())
                Q_EMIT daemonDisconnected();
        });
    }
}

void SocketApiServer::readFrom(QLocalSocket* connection)
{
    const LineBuffer::Lines lines = m_buffers[connection].feed(connection->readAll());
    if (lines.droppedBytes > 0)
        reportError(QStringLiteral("Dropped %1 bytes of an overlong line on the socket")
                        .arg(lines.droppedBytes));
    for (const QByteArray& line : lines.complete)
        handleLine(connection, line);
}

void SocketApiServer::handleLine(QLocalSocket* connection, const QByteArray& line)
{
    const SocketMessage message = parseSocketLine(line);
    if (std::holds_alternative<VersionRequest>(message)) {
        answer(connection, versionAnswer(QCoreApplication::applicationPid()));
        Q_EMIT versionAnswered();
    } else if (const auto* request = std::get_if<HydrationRequest>(&message)) {
        Q_EMIT hydrationRequested(connection, *request);
    } else if (const auto* malformed = std::get_if<MalformedRequest>(&message)) {
        reportError(QStringLiteral("Unusable request on the socket (%1): %2")
                        .arg(malformed->reason, QString::fromUtf8(line)));
        if (!malformed->id.isEmpty())
            answer(connection, hydrationAnswer(malformed->id, malformed->reason));
    }
}

} // namespace SyncHost
