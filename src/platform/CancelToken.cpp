#include "platform/CancelToken.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace qm {

CancelToken::CancelToken() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

CancelToken::~CancelToken()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void CancelToken::cancel()
{
    if (m_cancelled.exchange(true, std::memory_order_acq_rel))
        return;
    if (m_fd >= 0) {
        const uint64_t one = 1;
        // The counter only ever holds 1, so this write cannot block or fail.
        [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof(one));
    }
}

bool CancelToken::waitFor(int64_t timeoutMs) const
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    for (;;) {
        if (cancelled())
            return true;
        const int64_t left = ceil<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0)
            return false;
        if (m_fd >= 0) {
            pollfd p{m_fd, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
        } else {
            // No descriptor to wait on: look again now and then.
            std::this_thread::sleep_for(milliseconds(std::min<int64_t>(left, 100)));
        }
    }
}

} // namespace qm
