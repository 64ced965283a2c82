#pragma once

#include "notify/CallerRelay.h"
#include "ui/HostPage.h"

class QLineEdit;

namespace qm::ui {

// Page 2: host, nickname and the address, which the page finds itself: when
// the host box loses the focus the name is resolved on a thread of its own
// (the first IPv4 address, as the probes resolve it), with a wait cursor over
// the page until the answer comes back. A name that does not resolve leaves
// the address empty.
class HostPageGeneral : public HostPage
{
    Q_OBJECT
public:
    explicit HostPageGeneral(HostWizardState& state, QWidget* parent = nullptr);

    // True while a look-up runs.
    bool lookupPending() const { return m_pendingTicket != 0; }

Q_SIGNALS:
    // The host or its address changed.
    void hostChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startLookup();
    void lookupDone(int ticket, const QString& address);
    void setAddress(const QString& address);

    QLineEdit* m_host;
    QLineEdit* m_nickname;
    QLineEdit* m_address;
    int m_lastTicket = 0;
    int m_pendingTicket = 0;
    CallerRelay m_relay; // last: answers of look-ups still running die with the page
};

} // namespace qm::ui
