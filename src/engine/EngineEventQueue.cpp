#include "engine/EngineEventQueue.h"

#include "platform/CancelToken.h"
#include "platform/Clock.h"

#include <chrono>
#include <cerrno>
#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <system_error>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qm {

namespace {
thread_local const CancelToken* t_workerStop = nullptr;

} // namespace

EngineEventQueue::WorkerScope::WorkerScope(const CancelToken* token) : m_previous(t_workerStop)
{
    t_workerStop = token;
}

EngineEventQueue::WorkerScope::~WorkerScope()
{
    t_workerStop = m_previous;
}

EngineEventQueue::EngineEventQueue(std::size_t capacity)
    : m_capacity(capacity > 0 ? capacity : 1), m_consumer(std::this_thread::get_id()),
      m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_wakeFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

EngineEventQueue::~EngineEventQueue()
{
    for (Node* n = m_head.exchange(nullptr); n != nullptr;) {
        Node* next = n->next;
        delete n;
        n = next;
    }
    ::close(m_wakeFd);
}

void EngineEventQueue::acknowledgeWake()
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof(count));
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
    event.postedNs = SteadyNowNs(); // before any wait: the latency includes the back-pressure
    if (m_size.load() >= m_capacity && std::this_thread::get_id() != m_consumer)
        waitForRoom();
    if (m_detached.load())
        return; // the event and what it carries are freed here
    auto* node = new Node{std::move(event), m_head.load()};
    node->event.queuedNs = SteadyNowNs();
    ++m_size; // before the push: the consumer never takes more than was counted
    while (!m_head.compare_exchange_weak(node->next, node)) {
    }
    // The wake-up goes out before it is marked as sent: a poster the
    // scheduler preempts between the two holds up no one, since until the mark
    // every later poster wakes the consumer too. A mark left from an earlier
    // batch fails, the batch number having moved on.
    uint64_t state = m_wakeState.load();
    if ((state & 1) == 0) {
        wakeConsumer();
        m_wakeState.compare_exchange_strong(state, state | 1);
    }
}

// No lock is shared with the consumer here: it only bumps the generation and
// wakes the word, so a poster the scheduler preempted never holds it up.
void EngineEventQueue::waitForRoom()
{
    const CancelToken* stop = t_workerStop;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMaxWaitMs);
    ++m_waiters;
    for (;;) {
        // The generation is read before the tests: a change after them makes
        // the wait return at once.
        const uint32_t generation = m_roomGeneration.load();
        if (m_size.load() < m_capacity || m_detached.load() || (stop != nullptr && stop->cancelled()))
            break;
        const auto left = std::chrono::ceil<std::chrono::nanoseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        const timespec wait{static_cast<time_t>(left.count() / 1000000000), static_cast<long>(left.count() % 1000000000)};
        ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&m_roomGeneration), FUTEX_WAIT_PRIVATE, generation, &wait,
                  nullptr, 0);
    }
    --m_waiters;
}

void EngineEventQueue::releaseWaiters()
{
    ++m_roomGeneration;
    ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(&m_roomGeneration), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr,
              nullptr, 0);
}

void EngineEventQueue::wakeConsumer()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof(one));
}

void EngineEventQueue::takeBatch(std::vector<EngineEvent>& batch)
{
    batch.clear();
    // A new batch number with no wake-up sent, before the taking: a post
    // after it wakes again.
    uint64_t state = m_wakeState.load();
    while (!m_wakeState.compare_exchange_weak(state, ((state >> 1) + 1) << 1)) {
    }
    Node* newest = m_head.exchange(nullptr);
    Node* oldest = nullptr;
    while (newest != nullptr) {
        Node* next = newest->next;
        newest->next = oldest;
        oldest = newest;
        newest = next;
    }
    while (oldest != nullptr) {
        batch.push_back(std::move(oldest->event));
        Node* next = oldest->next;
        delete oldest;
        oldest = next;
    }
    m_size -= batch.size();
    if (m_waiters.load() > 0)
        releaseWaiters();
}

int EngineEventQueue::waitingPosters()
{
    return m_waiters.load();
}

void EngineEventQueue::detach()
{
    m_detached.store(true);
    releaseWaiters();
    std::vector<EngineEvent> dropped;
    takeBatch(dropped);
}

} // namespace qm
