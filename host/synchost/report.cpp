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

// The length of the UTF-8 sequence that the byte starts; 0 for a byte that starts none.
qsizetype sequenceLength(uchar lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf)
        return 2;
    if (lead >= 0xe0 && lead <= 0xef)
        return 3;
    return lead >= 0xf0 && lead <= 0xf4 ? 4 : 0;
}

} // namespace

QString printableName(const QByteArray& name)
{
    QString shown;
    for (qsizetype at = 0; at < name.size();) {
        const QByteArray sequence = name.mid(at, sequenceLength(uchar(name[at])));
        const QString character = QString::fromUtf8(sequence);
        // An invalid or cut-off sequence decodes to the replacement character, not to itself.
        if (!sequence.isEmpty() && character.toUtf8() == sequence &&
            character.front().category() != QChar::Other_Control) {
            shown += character;
            at += sequence.size();
        } else {
            shown += QStringLiteral("\\x%1").arg(uchar(name[at]), 2, 16, QLatin1Char('0'));
            ++at;
        }
    }
    return shown;
}

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
