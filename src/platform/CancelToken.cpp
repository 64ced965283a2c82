#include "platform/CancelToken.h"

#include <cstdint>
#include <sys/eventfd.h>
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

} // namespace qm
