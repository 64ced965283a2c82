#pragma once

#include <functional>
#include <memory>

class QObject;

namespace qm {

// Hands work from other threads back to the thread that created the relay:
// a posted function runs there, from its event loop. Once the relay is gone,
// posts are dropped and functions not run yet are discarded, so they may
// safely refer to the relay's owner.
class CallerRelay
{
public:
    CallerRelay();
    ~CallerRelay();
    CallerRelay(const CallerRelay&) = delete;
    CallerRelay& operator=(const CallerRelay&) = delete;

    struct Shared;
    // What a worker thread keeps; it may outlive the relay.
    class Handle
    {
    public:
        void post(std::function<void()> fn) const;

    private:
        friend class CallerRelay;
        std::shared_ptr<Shared> m_shared;
    };
    Handle handle() const;

private:
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QObject> m_context;
};

} // namespace qm
