#include "report.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace SyncHost {

namespace {

int reportOutput = STDOUT_FILENO;
int errorOutput = STDERR_FILENO;

// One write per line, so that lines of the daemon, which shares the terminal, never cut
// into ours.
void writeLine(int fd, const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count =
            ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        written += count;
    }
}

} // namespace

void reportLine(const QString& line)
{
    writeLine(reportOutput, line);
}

void reportError(const QString& line)
{
    writeLine(errorOutput, line);
}

bool sendDiagnosticsTo(const QString& logFile, QString* failure)
{
    const int log = ::open(QFile::encodeName(logFile).constData(),
                           O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log < 0) {
        *failure = QString::fromUtf8(std::strerror(errno));
        return false;
    }
    reportOutput = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    errorOutput = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    ::dup2(log, STDOUT_FILENO);
    ::dup2(log, STDERR_FILENO);
    ::close(log);
    return true;
}

} // namespace SyncHost
