#pragma once

#include <chrono>
#include <cstdint>

namespace qm {

// A 32-bit millisecond tick counter that wraps, like the classic system tick.
// Spans are taken as unsigned differences, so a wrap in between does no harm.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual uint32_t tick() const = 0;

    // The process-wide monotonic clock.
    static const Clock& system();
};

uint32_t TickCount();

// The steady clock in nanoseconds: time stamps that threads compare.
int64_t SteadyNowNs();

// Whole milliseconds from now until the deadline, rounded up, as a poll()
// timeout: 0 once it has passed, at most INT_MAX.
int MsUntil(std::chrono::steady_clock::time_point deadline);

} // namespace qm
