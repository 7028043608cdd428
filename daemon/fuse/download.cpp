#include "fuse/download.h"

#include <algorithm>

namespace TessarnFuse {

bool Download::ended() const
{
    const auto state = m_state.load();
    return state == State::Complete || state == State::Failed;
}

bool Download::wrote(off_t offset, std::size_t count, bool byClient)
{
    const std::lock_guard lock(m_mutex);
    if (m_state != State::Arriving || count == 0)
        return false;
    // Bytes another process wrote, or the client anywhere but where the last write ended, may
    // not be what the file will hold: readers wait for the end.
    if (!byClient || offset != m_arrived) {
        m_state = State::Unordered;
        return false;
    }
    const bool first = m_arrived == 0;
    m_arrived += static_cast<off_t>(count);
    return first || m_waitingReads > 0;
}

void Download::complete()
{
    end(State::Complete, 0);
}

bool Download::fail(int error)
{
    return end(State::Failed, error);
}

bool Download::end(State state, int error)
{
    const std::lock_guard lock(m_mutex);
    if (ended())
        return false;
    m_error = error;
    m_state = state;
    return true;
}

bool Download::readable(off_t offset, std::size_t size) const
{
    const auto state = m_state.load();
    if (state != State::Arriving)
        return state != State::Unordered;
    return offset >= m_size || offset + static_cast<off_t>(within(offset, size)) <= m_arrived;
}

std::size_t Download::within(off_t offset, std::size_t size) const
{
    if (offset >= m_size)
        return 0;
    return static_cast<std::size_t>(std::min<off_t>(static_cast<off_t>(size), m_size - offset));
}

} // namespace TessarnFuse
