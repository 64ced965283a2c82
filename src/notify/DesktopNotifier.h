#pragma once

#include <QString>

namespace qm {

// One message for the desktop's notification service.
struct DesktopMessage
{
    QString summary;
    QString body;
    bool urgent = false; // a host went down
};

// Shows a message through the desktop's notification service. Called on the
// notification thread only; every call is bounded in time.
class DesktopNotifier
{
public:
    virtual ~DesktopNotifier() = default;
    // True when the service took the message; false when there is no session
    // bus, no notification service, or it did not answer in time.
    virtual bool show(const DesktopMessage& message) = 0;
};

} // namespace qm
