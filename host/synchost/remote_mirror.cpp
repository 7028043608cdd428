#include "remote_mirror.h"

#include "conflict_copy.h"
#include "local_copy.h"
#include "remote_scan.h"
#include "report.h"

#include <QDir>
#include <QFileInfo>
#include <vdk/syncjournaldb.h>
#include <vdk/vfs.h>

namespace SyncHost {

namespace {

struct Mirror {
    VDK::Vfs& vfs;
    VDK::SyncJournalDb& journal;
    QDir remote;
    QDir folder;
};

enum class Needs { Nothing, Placeholder };

void reportLeftOut(const RemoteTree& tree)
{
    for (const LeftOut& entry : tree.leftOut)
        reportError(QStringLiteral("synchost: left out %1: %2")
                        .arg(printableName(entry.relativePath), entry.reason));
}

VDK::Result<void, QString> recordInJournal(const Mirror& mirror, VDK::SyncFileItem item)
{
    VDK::FileSystem::getInode(VDK::FileSystem::toFilesystemPath(mirror.folder.filePath(item.file)),
                              &item.inode);
    return mirror.journal.setFileRecord(VDK::SyncFileItem::fromSyncFileItem(item));
}

// A local entry in the way of a remote folder (a file, a link) is the user's.
VDK::Result<void, QString> makeFolder(const Mirror& mirror, const QString& relative)
{
    const QFileInfo local(mirror.folder.filePath(relative));
    if (isOccupied(local.filePath()) && (local.isSymLink() || !local.isDir())) {
        if (auto kept = keepAsConflictCopy(mirror.folder.path(), relative); !kept)
            return kept.error();
    }
    if (!mirror.folder.mkpath(relative))
        return QStringLiteral("Cannot create the folder %1 in %2")
            .arg(relative, mirror.folder.path());
    return {};
}

// The local file holds the remote's bytes already: it gets the hydrated record and the journal
// row a download would have left.
VDK::Result<Needs, QString> adopt(const Mirror& mirror, VDK::SyncFileItem item)
{
    item.type = CSyncEnums::ItemTypeFile;
    if (auto updated = mirror.vfs.updateMetadata(item, mirror.folder.filePath(item.file), {});
        !updated)
        return updated.error();
    if (auto recorded = recordInJournal(mirror, item); !recorded)
        return recorded.error();
    return Needs::Nothing;
}

// The remote changed too: the user's file moves aside, the remote's version takes its place.
VDK::Result<Needs, QString> keepConflict(const Mirror& mirror, const VDK::SyncFileItem& item)
{
    const QString local = mirror.folder.filePath(item.file);
    if (auto recorded = recordWrittenPlaceholderHydrated(mirror.vfs, local, item); !recorded)
        return recorded.error();
    if (auto moved = keepAsConflictCopy(mirror.folder.path(), item.file); !moved)
        return moved.error();
    return Needs::Placeholder;
}

VDK::Result<Needs, QString> reconcile(const Mirror& mirror, const VDK::SyncFileItem& item)
{
    const QString local = mirror.folder.filePath(item.file);
    if (!isOccupied(local))
        return Needs::Placeholder;
    const auto row = mirror.journal.getFileRecord(item.file.toUtf8());
    if (!row)
        return row.error();
    if (row->has_value() && (*row)->etag == item.etag) {
        // The remote did not change: whatever is here stays, edited or not.
        if (auto recorded = recordWrittenPlaceholderHydrated(mirror.vfs, local, item); !recorded)
            return recorded.error();
        return Needs::Nothing;
    }
    const LocalCopy copy =
        examineLocalCopy(mirror.vfs, local, mirror.remote.filePath(item.file), *row);
    if (copy == LocalCopy::Mirrored)
        return Needs::Placeholder;
    if (copy == LocalCopy::SameAsRemote)
        return adopt(mirror, item);
    return keepConflict(mirror, item);
}

VDK::Result<void, QString> createPlaceholders(const Mirror& mirror,
                                              const QList<VDK::SyncFileItemPtr>& items)
{
    if (auto created = mirror.vfs.createPlaceholders(items); !created)
        return created.error();
    for (const VDK::SyncFileItemPtr& item : items) {
        if (auto recorded = recordInJournal(mirror, *item); !recorded)
            return recorded.error();
    }
    return {};
}

} // namespace

VDK::Result<MirrorSummary, QString> mirrorRemote(VDK::Vfs& vfs, VDK::SyncJournalDb& journal,
                                                 const QString& remote, const QString& folder)
{
    if (!QFileInfo(remote).isDir())
        return QStringLiteral("The remote %1 is not a folder").arg(remote);
    const Mirror mirror{vfs, journal, QDir(remote), QDir(folder)};
    const RemoteTree tree = scanRemote(remote);
    reportLeftOut(tree);
    for (const QString& relative : tree.folders) {
        if (auto made = makeFolder(mirror, relative); !made)
            return made.error();
    }
    MirrorSummary summary;
    QList<VDK::SyncFileItemPtr> newPlaceholders;
    for (const VDK::SyncFileItem& item : tree.files) {
        ++summary.files;
        summary.bytes += item.size;
        const auto needs = reconcile(mirror, item);
        if (!needs)
            return needs.error();
        if (*needs == Needs::Placeholder)
            newPlaceholders.append(VDK::SyncFileItemPtr::create(item));
    }
    if (auto created = createPlaceholders(mirror, newPlaceholders); !created)
        return created.error();
    summary.placeholdersCreated = int(newPlaceholders.size());
    return summary;
}

} // namespace SyncHost
