// The bounded queue from workers to the main thread: back-pressure holds
// producers back without losing or reordering anything, and a stop frees a
// producer that waits on a full queue.

#include "engine/EngineEventQueue.h"
#include "platform/CancelToken.h"
#include "support/HostRows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <thread>
#include <unistd.h>

namespace qm::test {
namespace {

using namespace std::chrono_literals;

TEST(EngineEventQueueTest, FullQueueSlowsProducersButLosesAndReordersNothing)
{
    constexpr int kProducers = 4;
    constexpr int kEach = 400;
    EngineEventQueue queue(8);
    std::vector<std::thread> producers;
    for (int p = 1; p <= kProducers; ++p)
        producers.emplace_back([&queue, p] {
            for (int i = 0; i < kEach; ++i) {
                queue.reportSuccess(static_cast<uint32_t>(p), MakeResult("", static_cast<uint32_t>(i)));
                queue.postStatus(static_cast<uint32_t>(p), StatusSleeping);
            }
        });

    std::map<uint32_t, int> next; // per producer: the number expected next
    int received = 0;
    std::vector<EngineEvent> batch;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (received < kProducers * kEach && std::chrono::steady_clock::now() < deadline) {
        queue.takeBatch(batch);
        EXPECT_LE(batch.size(), queue.capacity() + kProducers);
        for (const EngineEvent& e : batch) {
            if (e.kind != EngineEvent::Success)
                continue;
            EXPECT_EQ(e.result->responseTime, static_cast<uint32_t>(next[e.threadId]++)) << e.threadId;
            ++received;
        }
        std::this_thread::yield();
    }
    for (auto& t : producers)
        t.join();
    queue.takeBatch(batch);
    EXPECT_EQ(received, kProducers * kEach);
    for (int p = 1; p <= kProducers; ++p)
        EXPECT_EQ(next[static_cast<uint32_t>(p)], kEach);
}

TEST(EngineEventQueueTest, StopFreesAProducerWaitingOnAFullQueueAndKeepsItsEvent)
{
    EngineEventQueue queue(2);
    CancelToken stop;
    auto producer = std::async(std::launch::async, [&] {
        const EngineEventQueue::WorkerScope scope(&stop);
        for (int i = 0; i < 3; ++i)
            queue.reportFailure(7, MakeResult("", static_cast<uint32_t>(i)));
    });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (queue.waitingPosters() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(queue.waitingPosters(), 1);

    stop.cancel();
    queue.releaseWaiters();
    ASSERT_EQ(producer.wait_for(2s), std::future_status::ready);
    std::vector<EngineEvent> batch;
    queue.takeBatch(batch);
    ASSERT_EQ(batch.size(), 3u);
    EXPECT_EQ(batch[2].result->responseTime, 2u);
    uint64_t wakes = 0;
    ASSERT_EQ(::read(queue.wakeFd(), &wakes, sizeof(wakes)), static_cast<ssize_t>(sizeof(wakes)));
    EXPECT_EQ(wakes, 1u); // one wake for the whole batch

    // A post from the consumer's own thread never waits, full or not.
    for (int i = 0; i < 3; ++i)
        queue.postStatus(1, StatusWorking);
    queue.detach();
    queue.postStatus(1, StatusWorking);
    queue.takeBatch(batch);
    EXPECT_TRUE(batch.empty());
}

} // namespace
} // namespace qm::test
