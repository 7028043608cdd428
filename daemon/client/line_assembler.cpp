#include "client/line_assembler.h"

namespace TessarnFuse {

LineAssembler::Lines LineAssembler::feed(std::string_view bytes)
{
    Lines lines;
    for (auto end = bytes.find('\n'); end != std::string_view::npos; end = bytes.find('\n')) {
        append(bytes.substr(0, end), lines);
        if (!m_discarding && !m_pending.empty())
            lines.complete.push_back(std::move(m_pending));
        clear();
        bytes.remove_prefix(end + 1);
    }
    append(bytes, lines);
    return lines;
}

void LineAssembler::clear()
{
    m_pending.clear();
    m_discarding = false;
}

void LineAssembler::append(std::string_view piece, Lines& lines)
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

} // namespace TessarnFuse
