#include "bundled_configuration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace SyncHost {

void useBundledConfiguration()
{
    const QString relativeConfig = QStringLiteral("tessarn/config.json");
    if (!QStandardPaths::locate(QStandardPaths::ConfigLocation, relativeConfig).isEmpty())
        return;
    const QString bundled =
        QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../etc/xdg"));
    if (!QFileInfo::exists(QDir(bundled).filePath(relativeConfig)))
        return;
    const QByteArray systemDirs = qgetenv("XDG_CONFIG_DIRS");
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(bundled) + ':' +
                                   (systemDirs.isEmpty() ? QByteArray("/etc/xdg") : systemDirs));
}

} // namespace SyncHost
