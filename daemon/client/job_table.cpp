#include "client/job_table.h"

#include <algorithm>

namespace TessarnFuse {

namespace {

constexpr std::chrono::milliseconds interruptedRecheck(50);

// Often enough that a stalled request ends within a quarter of the limit after it, seldom
// enough that many waiting requests cost little.
std::chrono::milliseconds stallCheckInterval(std::chrono::milliseconds limit)
{
    return std::clamp(limit / 4, std::chrono::milliseconds(50), std::chrono::milliseconds(60000));
}

} // namespace

void JobTable::add(std::int32_t id, std::shared_ptr<HydrationWaiter> waiter, Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    // No request can have stalled before a whole interval has passed.
    if (m_stallLimit.count() > 0 && m_jobs.empty())
        m_nextStallCheck = now + stallCheckInterval(m_stallLimit);
    m_jobs[id] = Job{std::move(waiter), now};
}

std::shared_ptr<HydrationWaiter> JobTable::take(std::int32_t id)
{
    std::lock_guard lock(m_mutex);
    m_interrupted.erase(id);
    const auto found = m_jobs.find(id);
    if (found == m_jobs.end())
        return nullptr;
    auto waiter = std::move(found->second.waiter);
    m_jobs.erase(found);
    return waiter;
}

Waiters JobTable::takeAll()
{
    std::lock_guard lock(m_mutex);
    Waiters waiters;
    for (auto& [id, job] : m_jobs)
        waiters.push_back(std::move(job.waiter));
    m_jobs.clear();
    m_interrupted.clear();
    return waiters;
}

bool JobTable::empty() const
{
    std::lock_guard lock(m_mutex);
    return m_jobs.empty();
}

std::shared_ptr<HydrationWaiter> JobTable::takeIfGivenUp(std::int32_t id)
{
    std::shared_ptr<HydrationWaiter> waiter;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_jobs.find(id);
        if (found == m_jobs.end())
            return nullptr;
        waiter = found->second.waiter;
    }
    // Reads /proc: outside the lock.
    if (waiter->callerGivesUp())
        return take(id);
    std::lock_guard lock(m_mutex);
    m_interrupted.insert(id);
    return nullptr;
}

Waiters JobTable::takeGivenUp()
{
    Waiters givenUp;
    const auto interrupted = m_interrupted;
    for (const auto id : interrupted) {
        if (auto waiter = takeIfGivenUp(id))
            givenUp.push_back(std::move(waiter));
    }
    return givenUp;
}

Waiters JobTable::takeStalled(Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    if (m_stallLimit.count() == 0 || m_jobs.empty() || now < m_nextStallCheck)
        return {};
    m_nextStallCheck = now + stallCheckInterval(m_stallLimit);
    return takeWhere([&](Job& job) {
        if (job.waiter->progressed())
            job.lastNews = now;
        return now - job.lastNews >= m_stallLimit;
    });
}

Waiters JobTable::takeReady()
{
    std::lock_guard lock(m_mutex);
    return takeWhere([](Job& job) { return job.waiter->ready(); });
}

template <typename Ends>
Waiters JobTable::takeWhere(Ends&& ends)
{
    Waiters taken;
    for (auto job = m_jobs.begin(); job != m_jobs.end();) {
        if (!ends(job->second)) {
            ++job;
            continue;
        }
        m_interrupted.erase(job->first);
        taken.push_back(std::move(job->second.waiter));
        job = m_jobs.erase(job);
    }
    return taken;
}

int JobTable::msUntilDue(Clock::time_point now) const
{
    std::lock_guard lock(m_mutex);
    if (!m_interrupted.empty())
        return static_cast<int>(interruptedRecheck.count());
    if (m_stallLimit.count() == 0 || m_jobs.empty())
        return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(m_nextStallCheck - now);
    return static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, INT32_MAX));
}

} // namespace TessarnFuse
