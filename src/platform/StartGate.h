#pragma once

#include <atomic>

namespace qm {

// Holds threads back until it is opened, once; opening wakes every waiter in
// one call.
class StartGate
{
public:
    void open()
    {
        m_open.store(1, std::memory_order_release);
        m_open.notify_all();
    }
    void wait() const
    {
        while (m_open.load(std::memory_order_acquire) == 0)
            m_open.wait(0, std::memory_order_acquire);
    }

private:
    std::atomic<int> m_open{0};
};

} // namespace qm
