// How the mirror tells what synchost put in the sync folder from what the user put there: only
// the former may be replaced by a placeholder.
#pragma once

#include <QString>
#include <vdk/result.h>
#include <vdk/syncfileitem.h>
#include <vdk/syncjournalfilerecord.h>

namespace VDK {
class Vfs;
}

namespace SyncHost {

enum class LocalCopy {
    Mirrored,     // as synchost last left it, or a placeholder holding nothing: replaceable
    SameAsRemote, // the user's, holding exactly the remote's bytes
    Edited,       // the user's own: never replaced nor emptied
};

// Anything at the path, seen without following links: a link in the folder is the user's,
// wherever it leads, and a dangling one is still there.
bool isOccupied(const QString& path);

// localFile must exist; row is the journal's row for it, if there is one. Seen through the
// mount, a placeholder shows its remote size, so it compares with the row as it was left.
LocalCopy examineLocalCopy(VDK::Vfs& vfs, const QString& localFile, const QString& remoteFile,
                           const VDK::Optional<VDK::SyncJournalFileRecord>& row);

// A placeholder written to while no daemon served the folder holds the user's bytes under a
// record that still asks for a download, which would write over them at the first open. Such
// a file is recorded hydrated, as the content it holds; any other file is left as it is.
VDK::Result<void, QString> recordWrittenPlaceholderHydrated(VDK::Vfs& vfs, const QString& localFile,
                                                            VDK::SyncFileItem item);

} // namespace SyncHost
