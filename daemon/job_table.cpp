#include "job_table.h"

namespace TessarnFuse {

void JobTable::set(std::int32_t id, JobStatus status)
{
    std::lock_guard lock(m_mutex);
    m_statuses[id] = status;
}

std::optional<JobStatus> JobTable::get(std::int32_t id) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_statuses.find(id);
    if (found == m_statuses.end())
        return std::nullopt;
    return found->second;
}

bool JobTable::update(std::int32_t id, JobStatus status)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_statuses.find(id);
    if (found == m_statuses.end())
        return false;
    found->second = status;
    return true;
}

bool JobTable::remove(std::int32_t id)
{
    std::lock_guard lock(m_mutex);
    return m_statuses.erase(id) > 0;
}

void JobTable::failWaiting()
{
    std::lock_guard lock(m_mutex);
    for (auto& [id, status] : m_statuses) {
        if (status == JobStatus::Queued || status == JobStatus::Sent)
            status = JobStatus::Failed;
    }
}

void JobTable::setClientPid(std::int64_t pid)
{
    std::lock_guard lock(m_mutex);
    m_clientPid = pid;
}

std::int64_t JobTable::clientPid() const
{
    std::lock_guard lock(m_mutex);
    return m_clientPid;
}

} // namespace TessarnFuse
