#include "platform/WorkerThread.h"

#include "platform/ThreadId.h"

#include <cstring>
#include <future>
#include <memory>
#include <pthread.h>

namespace qm {

namespace {
struct StartBlock
{
    std::function<void()> body;
    std::promise<uint32_t> id;
};

void* ThreadEntry(void* arg)
{
    std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(arg));
    auto body = std::move(block->body);
    block->id.set_value(CurrentThreadId());
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
    auto idFuture = block->id.get_future();

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
    result.threadId = idFuture.get();
    return result;
}

} // namespace qm
