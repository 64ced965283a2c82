#include "platform/WorkerThread.h"

#include "platform/ThreadId.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

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

namespace {
// From <linux/prctl.h> of Linux 6.17; older headers lack them.
constexpr int kPrFutexHash = 78;
constexpr int kPrFutexHashSetSlots = 1;
constexpr int kPrFutexHashGetSlots = 2;
constexpr std::size_t kMaxFutexSlots = 65536; // 4 MiB
} // namespace

void SizeFutexHashFor(std::size_t threads)
{
    const int current = ::prctl(kPrFutexHash, kPrFutexHashGetSlots, 0, 0, 0);
    if (current <= 0)
        return; // an older kernel, or the shared hash of the whole system
    std::size_t slots = 16;
    while (slots < threads && slots < kMaxFutexSlots)
        slots *= 2;
    if (slots > static_cast<std::size_t>(current))
        ::prctl(kPrFutexHash, kPrFutexHashSetSlots, slots, 0, 0);
}

void LowerCurrentThreadPriority(int steps)
{
    // On Linux the nice value belongs to the thread named by its kernel id.
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (errno != 0)
        return;
    ::setpriority(PRIO_PROCESS, self, std::min(now + steps, 19));
}

} // namespace qm
