#include "account_state.h"

#include <QDir>
#include <QSaveFile>

namespace SyncHost {

VDK::Result<QUuid, QString> persistentAccountUuid(const QString& stateDir)
{
    const QString path = QDir(stateDir).filePath(QStringLiteral("account-uuid"));
    QFile stored(path);
    if (stored.open(QIODevice::ReadOnly)) {
        const QUuid uuid = QUuid::fromString(QString::fromLatin1(stored.readAll().trimmed()));
        if (!uuid.isNull())
            return uuid;
    }
    const QUuid uuid = QUuid::createUuid();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(uuid.toByteArray(QUuid::WithoutBraces) + '\n') < 0 || !file.commit())
        return QStringLiteral("Cannot store the account in %1: %2").arg(path, file.errorString());
    return uuid;
}

} // namespace SyncHost
