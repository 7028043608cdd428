#include "preparation.h"

#include "boundary.h"
#include "daemon_setup.h"
#include "logging.h"
#include "vfs_tessarn.h"
#include "xattr.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace VDK {

namespace {

constexpr int unmountTimeoutMs = 30000;

bool isOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

} // namespace

QByteArray decodeMountInfoField(const QByteArray& field)
{
    QByteArray decoded;
    decoded.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctalDigit(field[i + 1]) &&
            isOctalDigit(field[i + 2]) && isOctalDigit(field[i + 3])) {
            decoded.append(
                char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
            i += 3;
        } else {
            decoded.append(field[i]);
        }
    }
    return decoded;
}

// Each line: mount id, parent id, major:minor, root, mount point, mount options, any
// number of optional fields, a lone "-", then the file-system type.
QStringList mountPointsOfType(const QByteArray& mountInfo, const QByteArray& type)
{
    constexpr qsizetype mountPointField = 4;
    constexpr qsizetype firstOptionalField = 6;
    QStringList mountPoints;
    for (const QByteArray& line : mountInfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-", firstOptionalField);
        if (separator < 0 || separator + 1 >= fields.size() || fields[separator + 1] != type)
            continue;
        mountPoints.append(QString::fromUtf8(decodeMountInfoField(fields[mountPointField])));
    }
    return mountPoints;
}

bool TessarnPluginFactory::checkAvailability() const
{
    return guarded(
        "checkAvailability",
        [] {
            if (!QFileInfo::exists(QStringLiteral("/dev/fuse"))) {
                qCWarning(lcTessarn) << "Fuse is not installed or available on the system";
                return false;
            }
            if (QFileInfo::exists(QStringLiteral("/usr/bin/fusermount3")) ||
                !QStandardPaths::findExecutable(QStringLiteral("fusermount3")).isEmpty())
                return true;
            qCWarning(lcTessarn) << "fusermount3 is not installed on the system";
            return false;
        },
        [](const QString&) { return false; });
}

Result<QStringList, QString> tessarnMountPoints()
{
    QFile mountInfo(QStringLiteral("/proc/self/mountinfo"));
    if (!mountInfo.open(QIODevice::ReadOnly)) {
        qCWarning(lcTessarn) << "Failed to read /proc/self/mountinfo" << mountInfo.errorString();
        return TessarnPluginFactory::tr("Failed to read /proc/self/mountinfo");
    }
    return mountPointsOfType(mountInfo.readAll(), "fuse.tessarn");
}

// A daemon that died, or a client that crashed, leaves its mount over the folder; the
// daemon cannot mount again until it is gone.
Result<void, QString> unmountIfMounted(const QString& folderPath, const QStringList& mountPoints)
{
    const bool mounted =
        std::any_of(mountPoints.cbegin(), mountPoints.cend(), [&](const QString& m) {
            return FileSystem::isChildPathOf2(folderPath, m)
                .testFlag(FileSystem::ChildResult::IsEqual);
        });
    if (!mounted)
        return {};
    QProcess fusermount;
    fusermount.setProcessChannelMode(QProcess::MergedChannels);
    fusermount.start(QStringLiteral("fusermount"), {QStringLiteral("-zu"), folderPath},
                     QIODevice::ReadWrite);
    fusermount.waitForFinished(unmountTimeoutMs);
    // A fusermount that cannot be started at all counts as success: the daemon's own mount
    // attempt then says what is wrong.
    if (fusermount.error() != QProcess::FailedToStart && fusermount.exitCode() != 0) {
        const QByteArray output = fusermount.readAll();
        qCWarning(lcTessarn) << "Failed to unmount the Tessarn mount" << folderPath << output;
        return TessarnPluginFactory::tr("Failed to unmount the Tessarn mount %1 Error:%2")
            .arg(folderPath, QString::fromUtf8(output));
    }
    qCDebug(lcTessarn) << "Unmounted Tessarn mount" << folderPath;
    return {};
}

Result<void, QString> clearStaleMount(const QString& folderPath)
{
    const auto mountPoints = tessarnMountPoints();
    if (!mountPoints)
        return mountPoints.error();
    return unmountIfMounted(folderPath, *mountPoints);
}

Result<void, QString> TessarnPluginFactory::findMountPoints() const
{
    mountPoints.clear();
    const auto found = tessarnMountPoints();
    if (!found)
        return found.error();
    mountPoints = *found;
    return {};
}

Result<void, QString> TessarnPluginFactory::unmountStaleMount(const QString& folderPath) const
{
    return unmountIfMounted(folderPath, mountPoints);
}

namespace {

// A folder we may use: one with extended attributes, not claimed by anybody else.
Result<void, QString> checkFolder(const QString& folderPath, const QUuid& accountUuid)
{
    if (!FileSystem::Xattr::supportsxattr(FileSystem::toFilesystemPath(folderPath))) {
        qCDebug(lcTessarn) << folderPath << "does not support xattributes";
        return TessarnPluginFactory::tr("The filesystem for %1 does not support xattributes.")
            .arg(folderPath);
    }
    const auto registration = guardedRegistration("VDK::TessarnPluginFactory", folderPath,
                                                  ::Tessarn::Registration::fromAttributes);
    if (!registration)
        return registration.error();
    const QString owner = QString::fromStdString(registration->owner());
    if (registration->isOk() && owner != ownerIdFor(accountUuid))
        return TessarnPluginFactory::tr("The sync path is already claimed by %1").arg(owner);
    return {};
}

Result<void, QString> checkInstallation()
{
    const FileSystem::Path daemon = daemonExecutablePath();
    if (!daemon.exists()) {
        qCDebug(lcTessarn) << "Tessarn executable not found at" << daemon.toString();
        return TessarnPluginFactory::tr("Tessarn executable not found, please install it");
    }
    const FileSystem::Path config = configFilePath();
    if (config.get().empty())
        return TessarnPluginFactory::tr(
            "Failed to find the Tessarn config file, please check your installation.");
    qCDebug(lcTessarn) << "Using config file" << config.toString();
    return {};
}

} // namespace

Result<void, QString> TessarnPluginFactory::prepare(const QString& folderPath,
                                                    const QUuid& accountUuid) const
{
    return guarded("prepare", [&] {
        Result<void, QString> result = findMountPoints();
        if (result)
            result = unmountStaleMount(folderPath);
        if (result)
            result = checkFolder(folderPath, accountUuid);
        if (result)
            result = checkInstallation();
        return result;
    });
}

} // namespace VDK
