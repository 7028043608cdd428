#include "daemon_restarts.h"

#include <cstring>

namespace VDK {

bool RestartBudget::take()
{
    if (!m_clock.isValid())
        m_clock.start();
    const qint64 now = m_clock.elapsed();
    m_restarts.removeIf([now](qint64 restart) { return now - restart >= windowMs; });
    if (m_restarts.size() >= maxRestarts)
        return false;
    m_restarts.append(now);
    return true;
}

QString describeExit(QProcess::ExitStatus status, int exitCode)
{
    // A process that a signal ended has the signal's number as its exit code.
    if (status == QProcess::CrashExit)
        return QStringLiteral("signal %1 (%2)")
            .arg(exitCode)
            .arg(QString::fromLocal8Bit(::strsignal(exitCode)));
    return QStringLiteral("exit status %1").arg(exitCode);
}

} // namespace VDK
