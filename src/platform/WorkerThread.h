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

// Gives the process a futex hash sized for `threads` threads that wait at
// once, on kernels that keep one per process (from Linux 6.17; their default
// is sized by the number of CPUs, so thousands of waiters share a few chains).
// Never shrinks it; does nothing where the call is not known.
void SizeFutexHashFor(std::size_t threads);

// Lowers the calling thread's priority by steps nice levels (at most to 19),
// for threads that must leave the CPU to the main thread when it has work.
void LowerCurrentThreadPriority(int steps);

} // namespace qm
