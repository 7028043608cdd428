// A local file that the user changed while the remote changed too is kept beside the remote's
// version, under a name that says so, the way sync clients keep both sides of a conflict.
#pragma once

#include <QDateTime>
#include <QString>
#include <vdk/result.h>

namespace SyncHost {

// "NAME (conflicted copy YYYY-MM-DD HHMMSS).EXT" in the same folder; EXT is the last suffix,
// and a name without one, or a dot-file, gets none.
QString conflictCopyName(const QString& relativePath, const QDateTime& when);

// Renames the file (or whatever is there) in the folder to its conflict copy's name, never
// over another file, and says so on standard output.
VDK::Result<void, QString> keepAsConflictCopy(const QString& folder, const QString& relativePath);

} // namespace SyncHost
