// What the remote holds, as synchost can carry it into the sync folder: its folders, its files
// as placeholder items, and every entry it leaves out, with the reason.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <vdk/syncfileitem.h>

namespace SyncHost {

struct LeftOut {
    QByteArray relativePath; // the name's bytes as the remote has them
    QString reason;
};

struct RemoteTree {
    QStringList folders;            // relative, parents before children
    QList<VDK::SyncFileItem> files; // as placeholders of the remote files
    QList<LeftOut> leftOut;
};

// Stable across runs: the same relative path always gives the same identifier.
QByteArray fileIdFor(const QString& relativePath);
// Changes whenever the remote file's size or modification time does.
QByteArray entityTagFor(qint64 size, qint64 modifiedMs);

RemoteTree scanRemote(const QString& remote);

} // namespace SyncHost
