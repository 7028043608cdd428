// The lines of the socket API as the sync client reads and writes them: the daemon sends
// "VERSION:" and "V2/HYDRATE_FILE:" with a JSON object, the client answers "VERSION:" with
// three fields and "V2/HYDRATE_FILE_RESULT:" with a JSON object.
#pragma once

#include <QByteArray>
#include <QString>
#include <variant>

namespace SyncHost {

struct VersionRequest {};

struct HydrationRequest {
    QByteArray id;     // as sent: the decimal request id, answered back unchanged
    QString file;      // absolute path of the placeholder in the mount
    QByteArray fileId; // the remote file's identifier
    QString requester; // executable of the application that opened the file
};

// A line with another command word: the client ignores it.
struct OtherCommand {
    QByteArray command;
};

struct MalformedRequest {
    QString reason;
    QByteArray id; // when it could be read, so that the sender still gets an answer
};

using SocketMessage =
    std::variant<VersionRequest, HydrationRequest, OtherCommand, MalformedRequest>;

// One line, without its line feed.
SocketMessage parseSocketLine(const QByteArray& line);

// The answer to VERSION: the protocol version, the API generation and our process id,
// which the daemon uses to let our own accesses through.
QByteArray versionAnswer(qint64 processId);

// "OK" when failure is empty, else the failure as the "error" member, and with it the name of
// the system's error behind it ("ENOSPC") as the "errno" member, when there is one.
QByteArray hydrationAnswer(const QByteArray& id, const QString& failure, int systemError = 0);

} // namespace SyncHost
