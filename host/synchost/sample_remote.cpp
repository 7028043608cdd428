#include "sample_remote.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

namespace SyncHost {

namespace {

constexpr auto readme =
    "This folder stands for the server. Every file here appears in the sync folder as a\n"
    "placeholder: an empty file that knows its real size. Open one with any program and its\n"
    "content is copied from here first.\n";

constexpr auto notes = "Files on demand\n"
                       "===============\n\n"
                       "- placeholders cost no disk space until they are opened\n"
                       "- opening one downloads it, once\n"
                       "- thumbnailers and indexers are kept from downloading everything\n";

constexpr auto letter = "Dear reader,\n\nthis letter was not on your disk until you opened it.\n";

// The same bytes on every machine, so a listing or a checksum can be compared.
QByteArray binaryData(qsizetype size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32*>(data.data()), size / qsizetype(sizeof(quint32)));
    return data;
}

VDK::Result<void, QString> writeFile(const QString& path, const QByteArray& content)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return QStringLiteral("Cannot create the folder of %1").arg(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    return {};
}

} // namespace

VDK::Result<void, QString> createSampleRemote(const QString& remote)
{
    if (QFileInfo::exists(remote))
        return {};
    constexpr qsizetype MiB = 1024 * 1024;
    const QList<std::pair<QString, QByteArray>> files{
        {QStringLiteral("README.txt"), readme},
        {QStringLiteral("Documents/notes.md"), notes},
        {QStringLiteral("Documents/Letters/letter to a reader.txt"), letter},
        {QStringLiteral("Pictures/holiday.raw"), binaryData(2 * MiB, 1)},
        {QStringLiteral("Pictures/portrait.raw"), binaryData(MiB / 2, 2)},
        {QStringLiteral("Music/concert.flac"), binaryData(3 * MiB, 3)},
    };
    // Built beside and renamed at the end, so an interrupted run leaves no half sample.
    const QString building = remote + QStringLiteral(".partial");
    QDir(building).removeRecursively();
    for (const auto& [relative, content] : files) {
        if (auto written = writeFile(QDir(building).filePath(relative), content); !written)
            return written;
    }
    if (!QDir().rename(building, remote))
        return QStringLiteral("Cannot move the sample remote into %1").arg(remote);
    return {};
}

} // namespace SyncHost
