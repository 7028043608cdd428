#include "remote_mirror.h"

#include "remote_scan.h"
#include "report.h"

#include <QDir>
#include <QFileInfo>
#include <vdk/syncjournaldb.h>
#include <vdk/vfs.h>

namespace SyncHost {

namespace {

void reportLeftOut(const RemoteTree& tree)
{
    for (const LeftOut& entry : tree.leftOut)
        reportError(QStringLiteral("synchost: left out %1: %2")
                        .arg(printableName(entry.relativePath), entry.reason));
}

VDK::Result<bool, QString> alreadyMirrored(VDK::SyncJournalDb& journal, const QString& folder,
                                           const VDK::SyncFileItem& item)
{
    const auto row = journal.getFileRecord(item.file.toUtf8());
    if (!row)
        return row.error();
    return row->has_value() && (*row)->etag == item.etag &&
           QFileInfo::exists(QDir(folder).filePath(item.file));
}

VDK::Result<void, QString> recordInJournal(VDK::SyncJournalDb& journal, const QString& folder,
                                           VDK::SyncFileItem item)
{
    VDK::FileSystem::getInode(VDK::FileSystem::toFilesystemPath(QDir(folder).filePath(item.file)),
                              &item.inode);
    return journal.setFileRecord(VDK::SyncFileItem::fromSyncFileItem(item));
}

} // namespace

VDK::Result<MirrorSummary, QString> mirrorRemote(VDK::Vfs& vfs, VDK::SyncJournalDb& journal,
                                                 const QString& remote, const QString& folder)
{
    if (!QFileInfo(remote).isDir())
        return QStringLiteral("The remote %1 is not a folder").arg(remote);
    const RemoteTree tree = scanRemote(remote);
    reportLeftOut(tree);
    for (const QString& relative : tree.folders) {
        if (!QDir(folder).mkpath(relative))
            return QStringLiteral("Cannot create the folder %1 in %2").arg(relative, folder);
    }
    MirrorSummary summary;
    QList<VDK::SyncFileItemPtr> newPlaceholders;
    for (const VDK::SyncFileItem& item : tree.files) {
        ++summary.files;
        summary.bytes += item.size;
        const auto mirrored = alreadyMirrored(journal, folder, item);
        if (!mirrored)
            return mirrored.error();
        if (!*mirrored)
            newPlaceholders.append(VDK::SyncFileItemPtr::create(item));
    }
    if (auto created = vfs.createPlaceholders(newPlaceholders); !created)
        return created.error();
    for (const VDK::SyncFileItemPtr& item : newPlaceholders) {
        if (auto recorded = recordInJournal(journal, folder, *item); !recorded)
            return recorded.error();
    }
    summary.placeholdersCreated = int(newPlaceholders.size());
    return summary;
}

} // namespace SyncHost
