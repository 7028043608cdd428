// One file's row in the sync journal.
#pragma once

#include "vdk/csync.h"

#include <QByteArray>
#include <ctime>

namespace VDK {

struct SyncJournalFileRecord {
    QByteArray path; // relative to the folder root, UTF-8
    quint64 inode = 0;
    std::time_t modtime = 0;
    CSyncEnums::ItemType type = CSyncEnums::ItemTypeFile;
    QByteArray etag;
    QByteArray fileId;
    qint64 fileSize = 0;

    bool operator==(const SyncJournalFileRecord&) const = default;
};

} // namespace VDK
