#pragma once

#include <QString>

namespace qm {

// Where the modem of the pager calls is configured.
inline constexpr const char* kModemDeviceSection = "ConfigNotificationDefaults";
inline constexpr const char* kModemDeviceValue = "MODEM_DEVICE";
inline constexpr const char* kDefaultModemDevice = "/dev/ttyACM0";

// One notification of a down or up transition, built from the row's texts at
// the moment of the transition. Only the enabled channels are set.
struct Notification
{
    enum Kind { Down, Up } kind = Down;
    bool page = false;
    QString pagerSequence;
    // The modem the pager call goes through: the "MODEM_DEVICE" value of
    // "ConfigNotificationDefaults" (kDefaultModemDevice when absent).
    QString modemDevice;
    bool sound = false;
    QString soundFile;
    bool mail = false;
    QString mailServer;
    QString mailTo;
    QString mailFrom;
    QString subject;
    QString body;
    // Down mails end with "\n\n" and the trace route of this host, when it is
    // not empty.
    QString traceRouteHost;
    // A desktop notification: "HOST DOWN: ..." or "HOST UP: ..." with the
    // protocol, port and message. Set from "ConfigNotificationDefaults"/
    // "DESKTOP_NOTIFY" when the transition happens, whatever the row's own
    // notification columns say.
    bool desktop = false;
    QString desktopSummary;
    QString desktopBody;
};

// Runs notifications in order: desktop, pager, sound, mail for a down;
// desktop, sound, mail for an up. Implementations return at once and do the
// work elsewhere.
class Notifier
{
public:
    virtual ~Notifier() = default;
    virtual void notify(const Notification& notification) = 0;
};

} // namespace qm
