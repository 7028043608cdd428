#include "boundary.h"
#include "logging.h"
#include "records.h"
#include "vfs_tessarn.h"

#include <QFile>
#include <QFileInfo>

namespace VDK {

namespace {

using States = ::Tessarn::Constants::States;
using PinStates = ::Tessarn::Constants::PinStates;

// The record an update rewrites: the one of the file the item replaces, else the file's
// own, else a new one. A stored record that cannot be decoded counts as none (with a
// warning), so the update rebuilds it from what the client knows of the file.
PlaceholderRecord recordForUpdate(const SyncFileItem& item, const QString& filePath,
                                  const QString& otherPath)
{
    if (!otherPath.isEmpty()) {
        if (auto record = placeHolderAttributes(otherPath); record.isOk())
            return record;
    }
    return storedOrNewRecord(filePath, item);
}

void applyItemType(PlaceholderRecord& record, CSyncEnums::ItemType type)
{
    switch (type) {
    case CSyncEnums::ItemTypeFile:
        record.size = 0;
        [[fallthrough]];
    case CSyncEnums::ItemTypeDirectory:
    case CSyncEnums::ItemTypeVirtualDirectory:
        qCDebug(lcTessarn) << "updateMetadata for" << int(type);
        record.state = States::Hydrated;
        break;
    case CSyncEnums::ItemTypeVirtualFile:
        qCDebug(lcTessarn) << "updateMetadata for virtual file " << int(type);
        record.state = States::Dehydrated;
        break;
    case CSyncEnums::ItemTypeVirtualFileDownload:
        record.state = States::Hydrating;
        break;
    default:
        break;
    }
}

// The scanner's type for a plain file, from its record; nullopt leaves the type as it is.
Optional<CSyncEnums::ItemType> scannedFileType(const PlaceholderRecord& record)
{
    if (record.state == States::Dehydrated)
        return record.pinState == PinStates::Dehydrated ? CSyncEnums::ItemTypeVirtualFileDownload
                                                        : CSyncEnums::ItemTypeVirtualFile;
    if (record.pinState == PinStates::Hydrated)
        return CSyncEnums::ItemTypeVirtualFileDehydration;
    return {};
}

} // namespace

FileSystem::Path Tessarn::localPath(const SyncFileItem& item) const
{
    return params().root() / item.localName();
}

// Turning a file back into a placeholder must not lose changes that were not uploaded.
Result<void, QString> Tessarn::refuseChangedFile(const SyncFileItem& item) const
{
    const FileSystem::Path path = localPath(item);
    if (path.exists() && FileSystem::fileChanged(path, item.size, item.modtime))
        return tr("Cannot dehydrate a placeholder because the file changed");
    return {};
}

Result<void, QString> Tessarn::createPlaceholder(const SyncFileItem& item)
{
    return guarded(
        "createPlaceholder",
        [&]() -> Result<void, QString> {
            if (item.type == CSyncEnums::ItemTypeVirtualFileDehydration) {
                if (auto unchanged = refuseChangedFile(item); !unchanged)
                    return unchanged;
            }
            const FileSystem::Path path = localPath(item);
            QFile file(path.toString());
            if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate))
                return file.errorString();
            file.close();
            return writePlaceHolderAttributesWithModTime(recordFromItem(path, item), item.modtime);
        });
}

// Each creation is guarded itself, so there is nothing left here that could throw.
Result<void, QString> Tessarn::createPlaceholders(const QList<SyncFileItemPtr>& items)
{
    for (const SyncFileItemPtr& item : items) {
        if (auto created = createPlaceholder(*item); !created)
            return created;
    }
    return {};
}

Result<void, QString> Tessarn::dehydratePlaceholder(const SyncFileItem& item)
{
    return guarded(
        "dehydratePlaceholder",
        [&]() -> Result<void, QString> {
            if (auto unchanged = refuseChangedFile(item); !unchanged)
                return unchanged;
            const FileSystem::Path path = localPath(item);
            if (path.exists())
                FileSystem::remove(path, nullptr);
            return createPlaceholder(item);
        });
}

Result<Vfs::ConvertToPlaceholderResult, QString>
Tessarn::updateMetadata(const SyncFileItem& item, const QString& filePath, const QString& otherPath)
{
    using UpdateResult = Result<ConvertToPlaceholderResult, QString>;
    return guarded(
        "updateMetadata",
        [&]() -> UpdateResult {
            if (item.type != CSyncEnums::ItemTypeVirtualFileDehydration)
                return updateRecord(item, filePath, otherPath);
            if (auto created = createPlaceholder(item); !created) {
                qCCritical(lcTessarn) << "Failed to create placeholder for" << filePath
                                      << created.error();
                return created.error();
            }
            return ConvertToPlaceholderResult::Updated;
        });
}

Result<Vfs::ConvertToPlaceholderResult, QString>
Tessarn::updateRecord(const SyncFileItem& item, const QString& filePath, const QString& otherPath)
{
    PlaceholderRecord record = recordForUpdate(item, filePath, otherPath);
    record.size = quint64(item.size);
    record.fileId = item.fileId.toStdString();
    record.etag = item.etag.toStdString();
    qCDebug(lcTessarn) << FileSystem::fromFilesystemPath(record.path) << int(item.type);
    applyItemType(record, item.type);
    if (auto written = writePlaceHolderAttributesWithModTime(record, item.modtime); !written) {
        qCCritical(lcTessarn) << "Failed to update placeholder for" << filePath << written.error();
        return written.error();
    }
    return ConvertToPlaceholderResult::Updated;
}

bool Tessarn::needsMetadataUpdate(const SyncFileItem& item)
{
    return guarded(
        "needsMetadataUpdate",
        [&] {
            const QString path = localPath(item).toString();
            return QFileInfo::exists(path) && !placeHolderAttributes(path).isOk();
        },
        [](const QString&) { return false; });
}

bool Tessarn::isDehydratedPlaceholder(const QString& filePath)
{
    return guarded(
        "isDehydratedPlaceholder",
        [&] {
            return QFileInfo::exists(filePath) &&
                   placeHolderAttributes(filePath).state == States::Dehydrated;
        },
        [](const QString&) { return false; });
}

bool Tessarn::statTypeVirtualFile(csync_file_stat_t* stat, const QByteArray& statData)
{
    guarded("statTypeVirtualFile", [&] {
        if (stat->type != CSyncEnums::ItemTypeFile)
            return;
        const QByteArray fullPath = statData + '/' + stat->path;
        if (const auto type = scannedFileType(placeHolderAttributes(QString::fromUtf8(fullPath))))
            stat->type = *type;
    });
    return false;
}

} // namespace VDK
