// The sync client's local socket API: a Unix socket where the daemon connects, asks for our
// process id and sends hydration requests.
#pragma once

#include "line_buffer.h"
#include "socket_messages.h"

#include <QHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QPointer>

namespace SyncHost {

// Where an answer goes: the connection the request came on, null once it has closed.
using AnswerChannel = QPointer<QLocalSocket>;

class SocketApiServer : public QObject {
    Q_OBJECT

public:
    explicit SocketApiServer(QObject* parent = nullptr);
    ~SocketApiServer() override;

    // Replaces a socket file that a crashed run left behind, one nobody answers on; leaves
    // anything else there alone. False, with the reason, when the path cannot be served.
    bool listen(const QString& socketPath, QString* failure);
    // Stops listening, closes every connection and removes the socket file.
    void close();

    static void answer(const AnswerChannel& channel, const QByteArray& line);

Q_SIGNALS:
    // VERSION was answered: the daemon learns our process id when it reads the answer.
    void versionAnswered();
    void hydrationRequested(const SyncHost::AnswerChannel& channel,
                            const SyncHost::HydrationRequest& request);
    // A connection made by a child of ours came or closed: the daemon, which connects once,
    // after it has mounted the folder, and keeps that connection until it ends. Connections
    // are accepted in the order they were made, whatever the order of their first lines.
    void daemonConnected();
    void daemonDisconnected();

private:
    void acceptConnections();
    void readFrom(QLocalSocket* connection);
    void handleLine(QLocalSocket* connection, const QByteArray& line);

    QLocalServer m_server;
    QHash<QLocalSocket*, LineBuffer> m_buffers;
};

} // namespace SyncHost
