#include "records.h"

#include "logging.h"
#include "xattr.h"

#include <vdk/filesystem.h>

#include <QCoreApplication>
#include <nlohmann/json.hpp>

namespace VDK {

namespace {

const QString placeholderAttributeName =
    QString::fromLatin1(::Tessarn::Constants::placeholderAttribute.data(),
                        ::Tessarn::Constants::placeholderAttribute.size());

} // namespace

Result<PlaceholderRecord, QString> readPlaceHolderAttributes(const std::filesystem::path& path)
{
    const Optional<QByteArray> value = FileSystem::Xattr::getxattr(path, placeholderAttributeName);
    if (!value)
        qCWarning(lcTessarn) << "No Tessarn xattr found for" << FileSystem::fromFilesystemPath(path);
    const QByteArray bytes = value.value_or(QByteArray());
    try {
        return PlaceholderRecord::fromData(path, {bytes.cbegin(), bytes.cend()});
    } catch (const nlohmann::json::exception& exception) {
        const QString file = FileSystem::fromFilesystemPath(path);
        qCWarning(lcTessarn) << "Cannot decode the Tessarn xattr of" << file << exception.what();
        return QCoreApplication::translate("VDK::Tessarn",
                                           "The placeholder record of %1 cannot be read: %2")
            .arg(file, QString::fromUtf8(exception.what()));
    }
}

PlaceholderRecord placeHolderAttributes(const std::filesystem::path& path)
{
    auto read = readPlaceHolderAttributes(path);
    if (!read) {
        PlaceholderRecord unreadable;
        unreadable.path = path;
        return unreadable;
    }
    return *read;
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
