#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qm {

// Workers get a modest stack so that thousands of monitored hosts fit in memory.
inline constexpr std::size_t kWorkerStackSize = 256 * 1024;

struct ThreadStart
{
    bool started = false;
    uint32_t threadId = 0; // the new thread's CurrentThreadId()
    std::string error;     // why the thread could not be created
};

// Starts a detached thread running body. Returns once the thread is created,
// without waiting for it to run.
ThreadStart StartDetachedThread(std::function<void()> body, std::size_t stackSize = kWorkerStackSize);

} // namespace qm
