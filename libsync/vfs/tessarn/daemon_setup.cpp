#include "daemon_setup.h"

#include "logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <vdk/theme.h>
#include <vdk/utility.h>

namespace VDK {

QString ownerIdFor(const QUuid& accountUuid)
{
    return QStringLiteral("%1:%2").arg(Theme::instance()->appName(),
                                       accountUuid.toString(QUuid::WithoutBraces));
}

FileSystem::Path daemonExecutablePath()
{
    const QString installed = QStringLiteral(TESSARN_DAEMON_PATH);
    const FileSystem::Path besideClient(
        QDir(QCoreApplication::applicationDirPath()).filePath(QFileInfo(installed).fileName()));
    return besideClient.exists() ? besideClient : FileSystem::Path(installed);
}

FileSystem::Path configFilePath()
{
    const QString located = QStandardPaths::locate(QStandardPaths::ConfigLocation,
                                                   QStringLiteral("tessarn/config.json"));
    if (!located.isEmpty())
        return FileSystem::Path(located);
    if (Utility::runningInAppImage()) {
        const QString bundled = QCoreApplication::applicationDirPath() +
                                QStringLiteral("/../etc/xdg/tessarn/config.json");
        if (QFileInfo::exists(bundled))
            return FileSystem::Path(bundled);
    }
    return {};
}

bool operationLogRequested()
{
    return qEnvironmentVariableIntValue("HALVORINE_TESSARN_LOG_FUSE") == 1;
}

QStringList daemonArguments(const QString& configFile, const QString& owner,
                            const QString& socketPath, const QString& folder, bool operationLog)
{
    // -k: a daemon that dies leaves its dead mount, which fails every access, until the
    // restart replaces it; without it the placeholders underneath would read as empty files.
    QStringList arguments{QStringLiteral("-f"), QStringLiteral("-k"), QStringLiteral("-i"),
                          configFile,           QStringLiteral("-o"), owner,
                          QStringLiteral("-s"), socketPath,           folder};
    if (operationLog)
        arguments.prepend(QStringLiteral("-d"));
    return arguments;
}

QString unreadableRegistrationText(const char* context, const QString& folder, const char* reason)
{
    qCWarning(lcTessarn) << "Cannot decode the Tessarn registration of" << folder << reason;
    return QCoreApplication::translate(context,
                                       "The files-on-demand registration of %1 is damaged and "
                                       "cannot be read: %2")
        .arg(folder, QString::fromUtf8(reason));
}

} // namespace VDK
