#pragma once

#include <QString>

namespace qm {

// One notification of a down or up transition, built from the row's texts at
// the moment of the transition. Only the enabled channels are set.
struct Notification
{
    enum Kind { Down, Up } kind = Down;
    bool page = false;
    QString pagerSequence;
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
};

// Runs notifications in order: pager, sound, mail for a down; sound, mail for
// an up. Implementations return at once and do the work elsewhere.
class Notifier
{
public:
    virtual ~Notifier() = default;
    virtual void notify(const Notification& notification) = 0;
};

} // namespace qm
