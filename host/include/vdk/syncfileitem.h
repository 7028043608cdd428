// What the sync engine knows about one file while it propagates a change.
#pragma once

#include "vdk/csync.h"
#include "vdk/syncjournalfilerecord.h"

#include <QByteArray>
#include <QSharedPointer>
#include <QString>
#include <ctime>

namespace VDK {

class SyncFileItem;
using SyncFileItemPtr = QSharedPointer<SyncFileItem>;

class SyncFileItem {
public:
    QString file; // relative to the folder root
    CSyncEnums::ItemType type = CSyncEnums::ItemTypeFile;
    std::time_t modtime = 0;
    QByteArray etag;
    qint64 size = 0;
    quint64 inode = 0;
    QByteArray fileId;

    // The name of the file in the local folder, relative to the folder root.
    QString localName() const { return file; }

    static SyncFileItemPtr fromSyncJournalFileRecord(const SyncJournalFileRecord& record);
    // The journal row for an item; the client keeps this conversion beside its twin above.
    static SyncJournalFileRecord fromSyncFileItem(const SyncFileItem& item);
};

} // namespace VDK
