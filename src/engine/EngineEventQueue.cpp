#include "engine/EngineEventQueue.h"

#include "platform/CancelToken.h"

#include <chrono>

namespace qm {

namespace {
thread_local const CancelToken* t_workerStop = nullptr;

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

EngineEventQueue::WorkerScope::WorkerScope(const CancelToken* token) : m_previous(t_workerStop)
{
    t_workerStop = token;
}

EngineEventQueue::WorkerScope::~WorkerScope()
{
    t_workerStop = m_previous;
}

EngineEventQueue::EngineEventQueue(std::function<void()> wake, std::size_t capacity)
    : m_wake(std::move(wake)), m_capacity(capacity > 0 ? capacity : 1), m_consumer(std::this_thread::get_id())
{
    m_queue.reserve(m_capacity);
}

void EngineEventQueue::reportSuccess(uint32_t tid, std::unique_ptr<ProbeResult> r)
{
    post({EngineEvent::Success, 0, tid, 0, std::move(r), nullptr});
}

void EngineEventQueue::reportFailure(uint32_t tid, std::unique_ptr<ProbeResult> r)
{
    post({EngineEvent::Failure, 0, tid, 0, std::move(r), nullptr});
}

void EngineEventQueue::postSyslog(uint32_t tid, std::unique_ptr<ProbeResult> r)
{
    post({EngineEvent::Syslog, 0, tid, 0, std::move(r), nullptr});
}

void EngineEventQueue::postStatus(uint32_t tid, int code)
{
    post({EngineEvent::Status, code, tid, 0, nullptr, nullptr});
}

void EngineEventQueue::postThreadEnded(uint32_t tid, std::unique_ptr<HostSession> s)
{
    post({EngineEvent::Ended, 0, tid, 0, nullptr, std::move(s)});
}

void EngineEventQueue::post(EngineEvent event)
{
    event.postedNs = NowNs(); // before any wait: the latency includes the back-pressure
    std::unique_lock lock(m_mutex);
    if (m_queue.size() >= m_capacity && std::this_thread::get_id() != m_consumer) {
        const CancelToken* stop = t_workerStop;
        ++m_waiters;
        m_space.wait_for(lock, std::chrono::milliseconds(kMaxWaitMs), [&] {
            return m_queue.size() < m_capacity || m_detached || (stop != nullptr && stop->cancelled());
        });
        --m_waiters;
    }
    if (m_detached)
        return; // the event and what it carries are freed here
    m_queue.push_back(std::move(event));
    // Under the lock, so that detach() cannot pass between the check and the
    // wake: the wake only queues a call on the consumer's thread.
    if (!m_wakePosted) {
        m_wakePosted = true;
        m_wake();
    }
}

void EngineEventQueue::takeBatch(std::vector<EngineEvent>& batch)
{
    batch.clear();
    bool waiters = false;
    {
        std::lock_guard lock(m_mutex);
        batch.swap(m_queue);
        if (m_queue.capacity() < m_capacity)
            m_queue.reserve(m_capacity);
        m_wakePosted = false;
        waiters = m_waiters > 0;
    }
    if (waiters)
        m_space.notify_all();
}

int EngineEventQueue::waitingPosters()
{
    std::lock_guard lock(m_mutex);
    return m_waiters;
}

void EngineEventQueue::releaseWaiters()
{
    {
        std::lock_guard lock(m_mutex); // a waiter between its check and its wait sees it
    }
    m_space.notify_all();
}

void EngineEventQueue::detach()
{
    std::vector<EngineEvent> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_detached = true;
        dropped.swap(m_queue);
    }
    m_space.notify_all();
}

} // namespace qm
