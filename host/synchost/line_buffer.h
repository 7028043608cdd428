// The socket API is a stream of lines; reads end wherever the kernel cut the stream, so a
// line may come in pieces and several lines in one read.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace SyncHost {

class LineBuffer {
public:
    // A longer line is dropped up to its line feed: no request is that long, and what waits
    // for the rest of a line must not grow without end. The daemon's reader keeps the same rule.
    static constexpr qsizetype maxLineLength = 64 * 1024;

    struct Lines {
        QList<QByteArray> complete; // without their line feeds; empty lines left out
        qsizetype droppedBytes = 0;
    };

    Lines feed(const QByteArray& bytes);

private:
    void append(QByteArrayView piece, Lines& lines);

    QByteArray m_pending;
    bool m_discarding = false; // inside a line that was too long, until its line feed
};

} // namespace SyncHost
