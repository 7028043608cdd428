#include "socket_api.h"

#include "report.h"

#include <QCoreApplication>

namespace SyncHost {

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
    QLocalServer::removeServer(socketPath);
    if (m_server.listen(socketPath))
        return true;
    *failure = m_server.errorString();
    return false;
}

void SocketApiServer::close()
{
    const QString socketFile = m_server.fullServerName();
    const bool listening = m_server.isListening();
    m_server.close();
    for (QLocalSocket* connection : m_buffers.keys())
        connection->abort();
    if (listening)
        QLocalServer::removeServer(socketFile);
}

void SocketApiServer::answer(const AnswerChannel& channel, const QByteArray& line)
{
    if (channel && channel->state() == QLocalSocket::ConnectedState)
        channel->write(line);
}

void SocketApiServer::acceptConnections()
{
    while (QLocalSocket* connection = m_server.nextPendingConnection()) {
        m_buffers.insert(connection, LineBuffer());
        connect(connection, &QLocalSocket::readyRead, this,
                [this, connection] { readFrom(connection); });
        connect(connection, &QLocalSocket::disconnected, this, [this, connection] {
            m_buffers.remove(connection);
            connection->deleteLater();
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
