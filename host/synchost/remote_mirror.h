// The stand-in's sync: every folder of the remote is made in the sync folder, every file
// becomes a placeholder there, and the journal gets a row for it. A file already mirrored
// with the same entity tag is left as it is, hydrated or not.
#pragma once

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

// Reports each remote entry left out on standard error.
VDK::Result<MirrorSummary, QString> mirrorRemote(VDK::Vfs& vfs, VDK::SyncJournalDb& journal,
                                                 const QString& remote, const QString& folder);

} // namespace SyncHost
