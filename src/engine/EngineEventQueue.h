#pragma once

#include "engine/EngineEvents.h"
#include "engine/HostSession.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qm {

class CancelToken;

// One event from a worker, as it waits for the main thread.
struct EngineEvent
{
    enum Kind : uint8_t { Success, Failure, Syslog, Status, Ended };
    Kind kind = Status;
    int code = 0; // the status code of a Status event
    uint32_t threadId = 0;
    int64_t postedNs = 0; // steady clock, when the worker began to post it
    std::unique_ptr<ProbeResult> result;
    std::unique_ptr<HostSession> session;
};

// The bounded queue from the workers to the main thread, in shards by sender
// (each sender's order is kept; thousands of workers that wake together do
// not all queue behind one lock whose holder the scheduler preempted, and the
// consumer passes a busy shard by, to come back for it). A post that finds it
// full waits until the main thread has taken a batch, the poster's run was
// stopped, or kMaxWaitMs have passed: back-pressure slows the producers and
// never drops an event. Posts from the consumer's own thread never wait.
// The consumer is woken once per batch through `wake`, called under a lock
// that detach() takes too: it must only queue a call of takeBatch() on the
// consumer's thread, never run it. The bound may be passed by as many events
// as there are producers posting at the same moment.
class EngineEventQueue final : public EngineEvents
{
public:
    static constexpr std::size_t kDefaultCapacity = 4096;
    static constexpr int kMaxWaitMs = 5000;

    explicit EngineEventQueue(std::function<void()> wake, std::size_t capacity = kDefaultCapacity);

    // The stop token of the calling worker thread: a post that waits on a full
    // queue ends its wait once the token is cancelled (and releaseWaiters()
    // was called). Set for the thread's life by the worker's entry function.
    class WorkerScope
    {
    public:
        explicit WorkerScope(const CancelToken* token);
        ~WorkerScope();
        WorkerScope(const WorkerScope&) = delete;
        WorkerScope& operator=(const WorkerScope&) = delete;

    private:
        const CancelToken* m_previous;
    };

    void reportSuccess(uint32_t tid, std::unique_ptr<ProbeResult> r) override;
    void reportFailure(uint32_t tid, std::unique_ptr<ProbeResult> r) override;
    void postSyslog(uint32_t tid, std::unique_ptr<ProbeResult> r) override;
    void postStatus(uint32_t tid, int code) override;
    void postThreadEnded(uint32_t tid, std::unique_ptr<HostSession> s) override;

    // Moves the queued events into `batch` (cleared first) and lets waiting
    // posters go on. A shard being posted to right now is left for the next
    // batch, which is then woken at once.
    void takeBatch(std::vector<EngineEvent>& batch);
    // Wakes waiting posters so that those whose run was stopped go on at once.
    void releaseWaiters();
    // No more deliveries: queued and later events are dropped, waiters go on.
    void detach();

    std::size_t capacity() const { return m_capacity; }
    // Posters waiting for room right now.
    int waitingPosters();

private:
    static constexpr std::size_t kShards = 64;
    struct alignas(64) Shard
    {
        std::mutex mutex;
        std::vector<EngineEvent> events;
    };
    void post(EngineEvent event);
    void wakeConsumer();

    const std::function<void()> m_wake;
    const std::size_t m_capacity;
    const std::thread::id m_consumer;
    std::array<Shard, kShards> m_shards;
    std::atomic<std::size_t> m_size{0};
    std::atomic<bool> m_wakePosted{false};
    std::atomic<bool> m_detached{false};
    std::atomic<int> m_waiters{0};
    std::mutex m_waitMutex; // for the waits on a full queue and the wake
    std::condition_variable m_space;
};

} // namespace qm
