// The stand-in's sync: every folder of the remote is made in the sync folder, every file
// becomes a placeholder there, and the journal gets a row for it. A file already mirrored
// with the same entity tag is left as it is, hydrated or not.
#pragma once

#include <QByteArray>
#include <QString>
#include <vdk/result.h>

namespace VDK {
class SyncJournalDb;
class Vfs;
} // namespace VDK

namespace SyncHost {

struct MirrorSummary {
    int files = 0;
    qint64 bytes = 0;
    int placeholdersCreated = 0;
};

// Stable across runs: the same relative path always gives the same identifier.
QByteArray fileIdFor(const QString& relativePath);
// Changes whenever the remote file's size or modification time does.
QByteArray entityTagFor(qint64 size, qint64 modifiedMs);

VDK::Result<MirrorSummary, QString> mirrorRemote(VDK::Vfs& vfs, VDK::SyncJournalDb& journal,
                                                 const QString& remote, const QString& folder);

} // namespace SyncHost
