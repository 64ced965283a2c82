#include "support/EventPump.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace qm::test {

bool PumpEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        // Give other threads the core between rounds instead of spinning.
        QThread::msleep(1);
    }
    return true;
}

} // namespace qm::test
