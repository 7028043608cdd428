#include "vdk/syncfileitem.h"

namespace VDK {

SyncFileItemPtr SyncFileItem::fromSyncJournalFileRecord(const SyncJournalFileRecord& record)
{
    auto item = SyncFileItemPtr::create();
    item->file = QString::fromUtf8(record.path);
    item->type = record.type;
    item->modtime = record.modtime;
    item->etag = record.etag;
    item->size = record.fileSize;
    item->inode = record.inode;
    item->fileId = record.fileId;
    return item;
}

SyncJournalFileRecord SyncFileItem::fromSyncFileItem(const SyncFileItem& item)
{
    return {item.file.toUtf8(), item.inode, item.modtime, item.type,
            item.etag,          item.fileId, item.size};
}

} // namespace VDK
