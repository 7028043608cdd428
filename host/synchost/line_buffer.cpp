#include "line_buffer.h"

namespace SyncHost {

LineBuffer::Lines LineBuffer::feed(const QByteArray& bytes)
{
    Lines lines;
    QByteArrayView rest(bytes);
    for (qsizetype end = rest.indexOf('\n'); end >= 0; end = rest.indexOf('\n')) {
        append(rest.first(end), lines);
        if (!m_discarding && !m_pending.isEmpty())
            lines.complete.append(m_pending);
        m_pending.clear();
        m_discarding = false;
        rest = rest.sliced(end + 1);
    }
    append(rest, lines);
    return lines;
}

void LineBuffer::append(QByteArrayView piece, Lines& lines)
{
    if (!m_discarding && m_pending.size() + piece.size() > maxLineLength) {
        lines.droppedBytes += m_pending.size();
        m_pending.clear();
        m_discarding = true;
    }
    if (m_discarding)
        lines.droppedBytes += piece.size();
    else
        m_pending.append(piece);
}

} // namespace SyncHost
