// A small remote to try files on demand with: a few folders, some text, a few MiB of
// binary data.
#pragma once

#include <QString>
#include <vdk/result.h>

namespace SyncHost {

// Fills remote with the sample files, unless it exists already.
VDK::Result<void, QString> createSampleRemote(const QString& remote);

} // namespace SyncHost
