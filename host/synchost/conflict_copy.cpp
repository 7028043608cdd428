#include "conflict_copy.h"

#include "local_copy.h"
#include "report.h"

#include <QDir>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace SyncHost {

namespace {

// Two conflicts of one file within a second are unlikely, but a name taken is never
// overwritten: the copy takes the next second's name instead.
constexpr int namesToTry = 60;

} // namespace

QString conflictCopyName(const QString& relativePath, const QDateTime& when)
{
    const qsizetype nameStart = relativePath.lastIndexOf(u'/') + 1;
    const qsizetype dot = relativePath.lastIndexOf(u'.');
    const bool hasSuffix = dot > nameStart && dot < relativePath.size() - 1;
    const qsizetype cut = hasSuffix ? dot : relativePath.size();
    return relativePath.left(cut) +
           QStringLiteral(" (conflicted copy %1)").arg(when.toString(u"yyyy-MM-dd HHmmss")) +
           relativePath.mid(cut);
}

VDK::Result<void, QString> keepAsConflictCopy(const QString& folder, const QString& relativePath)
{
    const QDir root(folder);
    const QDateTime now = QDateTime::currentDateTime();
    for (int second = 0; second < namesToTry; ++second) {
        const QString copy = conflictCopyName(relativePath, now.addSecs(second));
        if (isOccupied(root.filePath(copy)))
            continue;
        if (std::rename(QFile::encodeName(root.filePath(relativePath)).constData(),
                        QFile::encodeName(root.filePath(copy)).constData()) != 0)
            return QStringLiteral("Cannot keep %1 as %2: %3")
                .arg(root.filePath(relativePath), copy, QString::fromUtf8(std::strerror(errno)));
        reportLine(QStringLiteral("conflict: kept your %1 as %2")
                       .arg(printableName(relativePath.toUtf8()), printableName(copy.toUtf8())));
        return {};
    }
    return QStringLiteral("Cannot keep %1: every conflict copy name is taken")
        .arg(root.filePath(relativePath));
}

} // namespace SyncHost
