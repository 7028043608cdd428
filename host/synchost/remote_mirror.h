// The stand-in's sync: every folder of the remote is made in the sync folder, every file
// becomes a placeholder there, and the journal gets a row for it. What the user made of the
// sync folder is never lost: a local file synchost did not put there is adopted when it
// holds the remote's bytes and kept as a conflict copy when the remote changed it; a file
// already mirrored with the same entity tag is left as it is, hydrated, edited or not.
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

// Reports each entry left out on standard error and each conflict copy on standard output.
VDK::Result<MirrorSummary, QString> mirrorRemote(VDK::Vfs& vfs, VDK::SyncJournalDb& journal,
                                                 const QString& remote, const QString& folder);

} // namespace SyncHost
