#include "remote_mirror.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <vdk/syncjournaldb.h>
#include <vdk/vfs.h>

namespace SyncHost {

namespace {

struct RemoteTree {
    QStringList folders;            // relative, parents before children
    QList<VDK::SyncFileItem> files; // as placeholders of the remote files
};

VDK::SyncFileItem itemFor(const QString& relative, const QFileInfo& remoteFile)
{
    VDK::SyncFileItem item;
    item.file = relative;
    item.type = CSyncEnums::ItemTypeVirtualFile;
    item.modtime = remoteFile.lastModified().toSecsSinceEpoch();
    item.size = remoteFile.size();
    item.etag = entityTagFor(item.size, remoteFile.lastModified().toMSecsSinceEpoch());
    item.fileId = fileIdFor(relative);
    return item;
}

// Symbolic links and special files have no content to download; they are left out.
RemoteTree scanRemote(const QString& remote)
{
    RemoteTree tree;
    const QDir root(remote);
    QDirIterator entries(remote, QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QFileInfo info(entries.next());
        if (info.isSymLink())
            continue;
        const QString relative = root.relativeFilePath(info.filePath());
        if (info.isDir())
            tree.folders.append(relative);
        else if (info.isFile())
            tree.files.append(itemFor(relative, info));
    }
    tree.folders.sort();
    std::sort(tree.files.begin(), tree.files.end(),
              [](const auto& a, const auto& b) { return a.file < b.file; });
    return tree;
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

QByteArray fileIdFor(const QString& relativePath)
{
    return QCryptographicHash::hash(relativePath.toUtf8(), QCryptographicHash::Sha1)
        .toHex()
        .left(20);
}

QByteArray entityTagFor(qint64 size, qint64 modifiedMs)
{
    return QByteArray::number(modifiedMs, 16) + '-' + QByteArray::number(size, 16);
}

VDK::Result<MirrorSummary, QString> mirrorRemote(VDK::Vfs& vfs, VDK::SyncJournalDb& journal,
                                                 const QString& remote, const QString& folder)
{
    if (!QFileInfo(remote).isDir())
        return QStringLiteral("The remote %1 is not a folder").arg(remote);
    const RemoteTree tree = scanRemote(remote);
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
