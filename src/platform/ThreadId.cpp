#include "platform/ThreadId.h"

#include <atomic>

namespace qm {

namespace {
std::atomic<uint32_t> g_lastId{0};
thread_local uint32_t t_id = 0;
} // namespace

uint32_t ReserveThreadId()
{
    uint32_t id = g_lastId.fetch_add(1, std::memory_order_relaxed) + 1;
    while (id == 0) // after 2^32 threads: skip the value that means "none"
        id = g_lastId.fetch_add(1, std::memory_order_relaxed) + 1;
    return id;
}

void AdoptThreadId(uint32_t id)
{
    t_id = id;
}

uint32_t CurrentThreadId()
{
    if (t_id == 0)
        t_id = ReserveThreadId();
    return t_id;
}

} // namespace qm
