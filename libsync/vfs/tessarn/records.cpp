#include "records.h"

#include "logging.h"
#include "xattr.h"

#include <vdk/filesystem.h>

#include <nlohmann/json.hpp>

namespace VDK {

namespace {

const QString placeholderAttributeName =
    QString::fromLatin1(::Tessarn::Constants::placeholderAttribute.data(),
                        ::Tessarn::Constants::placeholderAttribute.size());

} // namespace

PlaceholderRecord placeHolderAttributes(const std::filesystem::path& path)
{
    const Optional<QByteArray> value = FileSystem::Xattr::getxattr(path, placeholderAttributeName);
    if (!value)
        qCWarning(lcTessarn) << "No Tessarn xattr found for" << FileSystem::fromFilesystemPath(path);
    const QByteArray bytes = value.value_or(QByteArray());
    try {
        return PlaceholderRecord::fromData(path, {bytes.cbegin(), bytes.cend()});
    } catch (const nlohmann::json::exception& exception) {
        qCWarning(lcTessarn) << "Cannot decode the Tessarn xattr of"
                             << FileSystem::fromFilesystemPath(path) << exception.what();
        return PlaceholderRecord::fromData(path, {});
    }
}

PlaceholderRecord placeHolderAttributes(const QString& path)
{
    return placeHolderAttributes(FileSystem::toFilesystemPath(path));
}

PlaceholderRecord recordFromItem(const std::filesystem::path& path, const SyncFileItem& item)
{
    return PlaceholderRecord::create(path, item.etag.toStdString(), item.fileId.toStdString(),
                                     quint64(item.size));
}

PlaceholderRecord storedOrNewRecord(const QString& path, const SyncFileItem& item)
{
    if (PlaceholderRecord record = placeHolderAttributes(path); record.isOk())
        return record;
    return recordFromItem(FileSystem::toFilesystemPath(path), item);
}

Result<void, QString> writePlaceHolderAttributes(const PlaceholderRecord& record)
{
    const std::vector<unsigned char> data = record.toData();
    return FileSystem::Xattr::setxattr(
        record.path, placeholderAttributeName,
        QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size())));
}

Result<void, QString> writePlaceHolderAttributesWithModTime(const PlaceholderRecord& record,
                                                            std::time_t modTime)
{
    auto written = writePlaceHolderAttributes(record);
    if (written)
        FileSystem::setModTime(record.path, modTime);
    return written;
}

} // namespace VDK
