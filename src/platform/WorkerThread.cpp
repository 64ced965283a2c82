#include "platform/WorkerThread.h"

#include "platform/ThreadId.h"

#include <cstring>
#include <memory>
#include <pthread.h>

namespace qm {

namespace {
struct StartBlock
{
    std::function<void()> body;
    uint32_t id = 0;
};

void* ThreadEntry(void* arg)
{
    std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(arg));
    AdoptThreadId(block->id);
    auto body = std::move(block->body);
    block.reset();
    body();
    return nullptr;
}
} // namespace

ThreadStart StartDetachedThread(std::function<void()> body, std::size_t stackSize)
{
    ThreadStart result;
    auto block = std::make_unique<StartBlock>();
    block->body = std::move(body);
    // The identifier is ours, known before the thread runs: no need to wait
    // for the new thread to report it.
    block->id = ReserveThreadId();
    const uint32_t id = block->id;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stackSize > 0)
        pthread_attr_setstacksize(&attr, stackSize);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, &ThreadEntry, block.get());
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        result.error = std::strerror(rc);
        return result;
    }
    block.release(); // the thread owns it now
    result.started = true;
    result.threadId = id;
    return result;
}

} // namespace qm
