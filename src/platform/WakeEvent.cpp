#include "platform/WakeEvent.h"

#include <chrono>

namespace qm {

void WakeEvent::signal()
{
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    m_cv.notify_all();
}

bool WakeEvent::isSignalled() const
{
    std::lock_guard lock(m_mutex);
    return m_signalled;
}

bool WakeEvent::wait(unsigned timeoutMs) const
{
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_signalled; });
}

} // namespace qm
