#pragma once

#include "notify/DesktopNotifier.h"

#include <QString>

#include <optional>

namespace qm {

// The freedesktop notification service ("org.freedesktop.Notifications") on
// a D-Bus: the session bus by default, or the bus at a given address. The
// connection is private to this object, opened at the first message and kept
// while it works. Each call waits at most the time given; the notification
// thread, never the main thread, does the waiting.
class DesktopNotifierDbus final : public DesktopNotifier
{
public:
    static constexpr int kDefaultTimeoutMs = 3000;

    // An empty address means the session bus ($DBUS_SESSION_BUS_ADDRESS, else
    // $XDG_RUNTIME_DIR/bus); a bus is never launched for us.
    explicit DesktopNotifierDbus(QString busAddress = {}, int timeoutMs = kDefaultTimeoutMs);
    ~DesktopNotifierDbus() override;
    DesktopNotifierDbus(const DesktopNotifierDbus&) = delete;
    DesktopNotifierDbus& operator=(const DesktopNotifierDbus&) = delete;

    bool show(const DesktopMessage& message) override;

    // The session bus's address, empty when there is none.
    static QString SessionBusAddress();

private:
    bool connect();
    void disconnect();

    const QString m_address;
    const int m_timeoutMs;
    QString m_connectionName;         // empty while not connected
    std::optional<bool> m_bodyMarkup; // the service's answer, asked once per connection
};

} // namespace qm
