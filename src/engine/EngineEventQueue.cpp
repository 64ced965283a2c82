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
    if (m_size.load() >= m_capacity && std::this_thread::get_id() != m_consumer) {
        const CancelToken* stop = t_workerStop;
        std::unique_lock lock(m_waitMutex);
        ++m_waiters;
        m_space.wait_for(lock, std::chrono::milliseconds(kMaxWaitMs), [&] {
            return m_size.load() < m_capacity || m_detached.load() || (stop != nullptr && stop->cancelled());
        });
        --m_waiters;
    }
    if (m_detached.load())
        return; // the event and what it carries are freed here
    Shard& shard = m_shards[event.threadId % kShards];
    {
        std::lock_guard lock(shard.mutex);
        shard.events.push_back(std::move(event));
    }
    ++m_size;
    if (!m_wakePosted.exchange(true))
        wakeConsumer();
}

void EngineEventQueue::wakeConsumer()
{
    // Under the lock detach() takes: the consumer cannot go in between.
    std::lock_guard lock(m_waitMutex);
    if (!m_detached.load())
        m_wake();
}

void EngineEventQueue::takeBatch(std::vector<EngineEvent>& batch)
{
    batch.clear();
    m_wakePosted.store(false); // before the reading: a post after it wakes again
    bool passedBy = false;
    for (Shard& shard : m_shards) {
        std::unique_lock lock(shard.mutex, std::try_to_lock);
        if (!lock.owns_lock()) {
            passedBy = true;
            continue;
        }
        for (EngineEvent& e : shard.events)
            batch.push_back(std::move(e));
        shard.events.clear();
    }
    m_size -= batch.size();
    if (passedBy && !m_wakePosted.exchange(true))
        wakeConsumer();
    if (m_waiters.load() > 0)
        releaseWaiters();
}

int EngineEventQueue::waitingPosters()
{
    return m_waiters.load();
}

void EngineEventQueue::releaseWaiters()
{
    {
        std::lock_guard lock(m_waitMutex); // a waiter between its check and its wait sees it
    }
    m_space.notify_all();
}

void EngineEventQueue::detach()
{
    {
        std::lock_guard lock(m_waitMutex);
        m_detached.store(true);
    }
    m_space.notify_all();
    std::vector<EngineEvent> dropped;
    for (Shard& shard : m_shards) {
        std::lock_guard lock(shard.mutex);
        for (EngineEvent& e : shard.events)
            dropped.push_back(std::move(e));
        shard.events.clear();
    }
}

} // namespace qm
