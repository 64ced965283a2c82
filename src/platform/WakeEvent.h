#pragma once

#include <condition_variable>
#include <mutex>

namespace qm {

// A manual-reset event: once signalled it stays signalled, and every wait on it
// returns at once from then on.
class WakeEvent
{
public:
    void signal();
    bool isSignalled() const;
    // Waits at most timeoutMs; returns true when the event is signalled.
    bool wait(unsigned timeoutMs) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    bool m_signalled = false;
};

} // namespace qm
