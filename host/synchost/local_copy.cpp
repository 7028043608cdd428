#include "local_copy.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <optional>
#include <sys/stat.h>
#include <vdk/filesystem.h>
#include <vdk/vfs.h>

namespace SyncHost {

namespace {

constexpr qint64 comparisonChunk = 64 * 1024;

// For a file whose record says dehydrated: whether it holds any byte. An unreadable one
// counts as holding some, so that it is never taken for an empty placeholder.
std::optional<bool> placeholderHoldsBytes(VDK::Vfs& vfs, const QString& file)
{
    if (!vfs.isDehydratedPlaceholder(file))
        return std::nullopt;
    QFile content(file);
    return !content.open(QIODevice::ReadOnly) || !content.read(1).isEmpty();
}

// Read as the sync client, the daemon lets us see the bytes on disk without a download.
bool sameContent(const QString& localFile, const QString& remoteFile)
{
    QFile local(localFile);
    QFile remote(remoteFile);
    if (!local.open(QIODevice::ReadOnly) || !remote.open(QIODevice::ReadOnly))
        return false;
    for (;;) {
        const QByteArray localChunk = local.read(comparisonChunk);
        if (localChunk != remote.read(comparisonChunk))
            return false;
        if (localChunk.isEmpty())
            return local.error() == QFileDevice::NoError && remote.error() == QFileDevice::NoError;
    }
}

} // namespace

bool isOccupied(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

LocalCopy examineLocalCopy(VDK::Vfs& vfs, const QString& localFile, const QString& remoteFile,
                           const VDK::Optional<VDK::SyncJournalFileRecord>& row)
{
    const QFileInfo local(localFile);
    if (!local.isFile() || local.isSymLink())
        return LocalCopy::Edited;
    if (placeholderHoldsBytes(vfs, localFile) == false)
        return LocalCopy::Mirrored;
    if (row && !VDK::FileSystem::fileChanged(VDK::FileSystem::toFilesystemPath(localFile),
                                             row->fileSize, row->modtime))
        return LocalCopy::Mirrored;
    return sameContent(localFile, remoteFile) ? LocalCopy::SameAsRemote : LocalCopy::Edited;
}

VDK::Result<void, QString> recordWrittenPlaceholderHydrated(VDK::Vfs& vfs, const QString& localFile,
                                                            VDK::SyncFileItem item)
{
    if (placeholderHoldsBytes(vfs, localFile) != true)
        return {};
    item.type = CSyncEnums::ItemTypeFile;
    item.modtime = QFileInfo(localFile).lastModified().toSecsSinceEpoch();
    if (auto updated = vfs.updateMetadata(item, localFile, {}); !updated)
        return updated.error();
    return {};
}

} // namespace SyncHost
