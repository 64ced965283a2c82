#pragma once

#include "platform/Clock.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qm::test {

// A tick counter under the test's control, readable from any thread. Every
// reading returns the current value and then moves it on by the step (0: the
// clock stands still). It counts its readings, so a test can wait until the
// code under test has reached a given point.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(uint32_t start = 0, uint32_t step = 0) : m_now(start), m_step(step) {}

    uint32_t tick() const override
    {
        std::unique_lock lock(m_mutex);
        const uint32_t now = m_now;
        m_now += m_step; // unsigned: wraps like the real tick
        ++m_readings;
        lock.unlock();
        m_read.notify_all();
        return now;
    }
    // Waits until at least `count` readings were made; false on time-out.
    bool waitForReadings(int count, std::chrono::milliseconds timeout) const
    {
        std::unique_lock lock(m_mutex);
        return m_read.wait_for(lock, timeout, [&] { return m_readings >= count; });
    }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_read;
    mutable uint32_t m_now;
    mutable int m_readings = 0;
    uint32_t m_step;
};

} // namespace qm::test
