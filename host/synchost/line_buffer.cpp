#include "line_buffer.h"

namespace SyncHost {

LineBuffer::Lines LineBuffer::feed(const QByteArray& bytes)
{
    Lines lines;
    qsizetype start = 0;
    for (qsizetype end = bytes.indexOf('\n'); end >= 0; end = bytes.indexOf('\n', start)) {
        if (m_discarding) {
            lines.droppedBytes += end - start;
            m_discarding = false;
        } else {
            m_pending.append(bytes.constData() + start, end - start);
            if (!m_pending.isEmpty())
                lines.complete.append(m_pending);
        }
        m_pending.clear();
        start = end + 1;
    }
    const qsizetype rest = bytes.size() - start;
    if (m_discarding) {
        lines.droppedBytes += rest;
    } else if (m_pending.size() + rest > maxLineLength) {
        lines.droppedBytes += m_pending.size() + rest;
        m_pending.clear();
        m_discarding = true;
    } else {
        m_pending.append(bytes.constData() + start, rest);
    }
    return lines;
}

} // namespace SyncHost
