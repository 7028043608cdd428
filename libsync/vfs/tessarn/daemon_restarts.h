// How often the plug-in brings back a daemon that ended on its own: one that dies at every
// start would otherwise be restarted for ever.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QString>

namespace VDK {

class RestartBudget {
public:
    static constexpr int maxRestarts = 3;
    static constexpr qint64 windowMs = 60000;

    // Counts a restart and says yes while fewer than maxRestarts came within the last windowMs.
    bool take();
    int takenInWindow() const { return int(m_restarts.size()); }

private:
    QElapsedTimer m_clock;
    QList<qint64> m_restarts; // m_clock's times of the restarts within the window
};

// How a process ended, for the log and the user: "exit status 3", "signal 9 (Killed)".
QString describeExit(QProcess::ExitStatus status, int exitCode);

} // namespace VDK
