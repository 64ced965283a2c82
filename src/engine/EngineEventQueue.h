#pragma once

#include "engine/EngineEvents.h"
#include "engine/HostSession.h"

#include <atomic>
#include <cstdint>
#include <memory>
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
    int64_t queuedNs = 0; // steady clock, when it went into the queue (after any back-pressure wait)
};

// The bounded queue from the workers to the main thread. A post pushes onto a
// lock-free list and the consumer takes the whole list at once, in the order
// of the posts (so each sender's order is kept): with thousands of workers
// runnable at once, a poster the scheduler preempts holds up neither the
// other posters nor the consumer. A post that finds it full waits until the
// main thread has taken a batch, the poster's run was stopped, or kMaxWaitMs
// have passed: back-pressure slows the producers and never drops an event. Posts from the consumer's own thread never wait.
// The consumer is woken once per batch (rarely more, when posters race)
// through wakeFd(), an eventfd that turns readable: no lock a preempted
// producer could hold against the consumer. The bound may be passed by as
// many events as there are producers posting at the same moment.
class EngineEventQueue final : public EngineEvents
{
public:
    static constexpr std::size_t kDefaultCapacity = 4096;
    static constexpr int kMaxWaitMs = 5000;

    // Throws std::system_error when no eventfd can be had.
    explicit EngineEventQueue(std::size_t capacity = kDefaultCapacity);
    ~EngineEventQueue() override;
    EngineEventQueue(const EngineEventQueue&) = delete;
    EngineEventQueue& operator=(const EngineEventQueue&) = delete;

    // Readable once events wait for a batch; reading it gives the wake-ups sent.
    int wakeFd() const { return m_wakeFd; }
    // Consumes the wake-up of wakeFd(); call it before takeBatch().
    void acknowledgeWake();

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

    // Moves the queued events into `batch` (cleared first), oldest first, and
    // lets waiting posters go on.
    void takeBatch(std::vector<EngineEvent>& batch);
    // Wakes waiting posters so that those whose run was stopped go on at once.
    void releaseWaiters();
    // No more deliveries: queued and later events are dropped, waiters go on.
    void detach();

    std::size_t capacity() const { return m_capacity; }
    // Posters waiting for room right now.
    int waitingPosters();

private:
    struct Node
    {
        EngineEvent event;
        Node* next = nullptr;
    };
    void post(EngineEvent event);
    void waitForRoom();
    void wakeConsumer();

    const std::size_t m_capacity;
    const std::thread::id m_consumer;
    const int m_wakeFd;
    std::atomic<Node*> m_head{nullptr}; // the newest post first
    std::atomic<std::size_t> m_size{0};
    // The batch number times two, plus one once the consumer was woken for it.
    std::atomic<uint64_t> m_wakeState{0};
    std::atomic<bool> m_detached{false};
    std::atomic<int> m_waiters{0};
    // Posters wait on it (a futex word) for a change: room, a stop, detach.
    std::atomic<uint32_t> m_roomGeneration{0};
};

} // namespace qm
