#include "platform/CancelToken.h"

#include "platform/Clock.h"

#include <chrono>
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (int left = MsUntil(deadline); !cancelled() && left > 0; left = MsUntil(deadline)) {
        if (m_fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(left)); // nothing to wait on
            continue;
        }
        pollfd p{m_fd, POLLIN, 0};
        ::poll(&p, 1, left);
    }
    return cancelled();
}

} // namespace qm
