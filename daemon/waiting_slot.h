// One of the places for opens that wait for a hydration, held for the whole wait.
#pragma once

#include <atomic>

namespace TessarnFuse {

class WaitingSlot {
public:
    WaitingSlot(std::atomic<unsigned>& waiting, unsigned max)
        : m_waiting(waiting), m_taken(take(waiting, max))
    {
    }
    ~WaitingSlot()
    {
        if (m_taken)
            m_waiting.fetch_sub(1);
    }
    WaitingSlot(const WaitingSlot&) = delete;
    WaitingSlot& operator=(const WaitingSlot&) = delete;
    explicit operator bool() const { return m_taken; }

private:
    // Counts only the opens that got a place: one refused near the cap must not refuse others.
    static bool take(std::atomic<unsigned>& waiting, unsigned max)
    {
        unsigned current = waiting.load();
        do {
            if (current >= max)
                return false;
        } while (!waiting.compare_exchange_weak(current, current + 1));
        return true;
    }

    std::atomic<unsigned>& m_waiting;
    bool m_taken;
};

} // namespace TessarnFuse
