// The socket API is a stream of lines; reads end wherever the kernel cut the stream, so a
// line may come in pieces and several lines in one read.
#pragma once

#include <QByteArray>
#include <QList>

namespace SyncHost {

class LineBuffer {
public:
    // A line that grows beyond this without its line feed is dropped: no request is that
    // long, and the buffer must not grow without end.
    static constexpr qsizetype maxLineLength = 64 * 1024;

    struct Lines {
        QList<QByteArray> complete; // without their line feeds; empty lines left out
        qsizetype droppedBytes = 0;
    };

    Lines feed(const QByteArray& bytes);

private:
    QByteArray m_pending;
    bool m_discarding = false; // inside a line that was too long, until its line feed
};

} // namespace SyncHost
