#include "platform/Clock.h"

#include <chrono>
#include <climits>

namespace qm {

namespace {
class SteadyClock final : public Clock
{
public:
    uint32_t tick() const override { return TickCount(); }
};
} // namespace

const Clock& Clock::system()
{
    static const SteadyClock clock;
    return clock;
}

uint32_t TickCount()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

int64_t SteadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int MsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left <= 0 ? 0 : left >= INT_MAX ? INT_MAX : static_cast<int>(left);
}

} // namespace qm
