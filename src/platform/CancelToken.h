#pragma once

#include <atomic>
#include <cstdint>

namespace qm {

// A one-shot stop signal for threads that wait on sockets: once cancelled it
// stays cancelled, and its descriptor stays readable, so a poll() that watches
// fd() beside a socket returns at once. One token serves any number of
// threads; nobody ever reads the descriptor.
class CancelToken
{
public:
    CancelToken();
    ~CancelToken();
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    // Signals every waiter; later calls do nothing.
    void cancel();
    bool cancelled() const { return m_cancelled.load(std::memory_order_acquire); }
    // Readable once cancelled; -1 when no descriptor could be made (waits then
    // end only at their own bounds, cancelled() still tells).
    int fd() const { return m_fd; }
    // Waits until the token is cancelled or timeoutMs have passed; true when
    // cancelled. Thousands of threads can wait at once: one cancel() wakes
    // them all in a single call.
    bool waitFor(int64_t timeoutMs) const;

private:
    int m_fd = -1;
    std::atomic<bool> m_cancelled{false};
};

} // namespace qm
