// The account's identity must stay the same across runs over one folder: the folder's
// registration names it, and the daemon refuses a folder claimed by another identity.
#pragma once

#include <QString>
#include <QUuid>
#include <vdk/result.h>

namespace SyncHost {

// The uuid kept in stateDir, made and stored there on first use.
VDK::Result<QUuid, QString> persistentAccountUuid(const QString& stateDir);

} // namespace SyncHost
