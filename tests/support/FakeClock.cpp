#include "support/FakeClock.h"

namespace qm::test {

uint32_t FakeClock::tick() const
{
    uint32_t now = 0;
    {
        std::lock_guard lock(m_mutex);
        now = m_now;
        m_now += m_step; // unsigned: wraps like the real tick
        ++m_readings;
    }
    m_read.notify_all();
    return now;
}

bool FakeClock::waitForReadings(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_read.wait_for(lock, timeout, [&] { return m_readings >= count; });
}

} // namespace qm::test
