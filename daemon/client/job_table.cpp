#include "client/job_table.h"

namespace TessarnFuse {

void JobTable::add(std::int32_t id, std::shared_ptr<HydrationWaiter> waiter, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    m_jobs[id] = Job{std::move(waiter), JobStatus::Queued, now};
}

std::optional<JobStatus> JobTable::get(std::int32_t id) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_jobs.find(id);
    if (found == m_jobs.end())
        return std::nullopt;
    return found->second.status;
}

bool JobTable::update(std::int32_t id, JobStatus status)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_jobs.find(id);
    if (found == m_jobs.end())
        return false;
    found->second.status = status;
    return true;
}

std::shared_ptr<HydrationWaiter> JobTable::take(std::int32_t id)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_jobs.find(id);
    if (found == m_jobs.end())
        return nullptr;
    auto waiter = std::move(found->second.waiter);
    m_jobs.erase(found);
    return waiter;
}

std::shared_ptr<HydrationWaiter> JobTable::find(std::int32_t id) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_jobs.find(id);
    return found == m_jobs.end() ? nullptr : found->second.waiter;
}

std::vector<std::shared_ptr<HydrationWaiter>> JobTable::takeAll()
{
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<HydrationWaiter>> waiters;
    for (auto& [id, job] : m_jobs)
        waiters.push_back(std::move(job.waiter));
    m_jobs.clear();
    return waiters;
}

std::vector<std::shared_ptr<HydrationWaiter>> JobTable::takeStalled(Clock::time_point now,
                                                                    Clock::duration limit)
{
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<HydrationWaiter>> stalled;
    for (auto job = m_jobs.begin(); job != m_jobs.end();) {
        if (job->second.waiter->progressed())
            job->second.lastNews = now;
        if (now - job->second.lastNews < limit) {
            ++job;
            continue;
        }
        stalled.push_back(std::move(job->second.waiter));
        job = m_jobs.erase(job);
    }
    return stalled;
}

bool JobTable::empty() const
{
    std::lock_guard lock(m_mutex);
    return m_jobs.empty();
}

} // namespace TessarnFuse
