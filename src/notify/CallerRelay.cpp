#include "notify/CallerRelay.h"

#include <QObject>

#include <mutex>

namespace qm {

struct CallerRelay::Shared
{
    std::mutex mutex;
    QObject* context = nullptr; // null once the relay is gone
};

CallerRelay::CallerRelay()
    : m_shared(std::make_shared<Shared>()), m_context(std::make_unique<QObject>())
{
    m_shared->context = m_context.get();
}

CallerRelay::~CallerRelay()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->context = nullptr;
    }
    m_context.reset(); // discards what was posted and not run yet
}

CallerRelay::Handle CallerRelay::handle() const
{
    Handle h;
    h.m_shared = m_shared;
    return h;
}

void CallerRelay::Handle::post(std::function<void()> fn) const
{
    // The lock keeps the context alive while the event is queued.
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->context)
        // Taking the lock before the call orders it after this post for ThreadSanitizer too.
        QMetaObject::invokeMethod(m_shared->context, [s = m_shared, fn = std::move(fn)] { { std::lock_guard sync(s->mutex); } fn(); }, Qt::QueuedConnection);
}

} // namespace qm
