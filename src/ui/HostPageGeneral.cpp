#include "ui/HostPageGeneral.h"

#include "platform/WorkerThread.h"
#include "probes/ProbeSocket.h"
#include "probes/ResultSink.h"
#include "ui/HostPageSupport.h"

#include <QEvent>
#include <QFormLayout>
#include <QLineEdit>

namespace qm::ui {

HostPageGeneral::HostPageGeneral(HostWizardState& state, QWidget* parent)
    : HostPage(state, QStringLiteral("hostPageGeneral"), QStringLiteral("General Properties"), parent)
{
    setTitle(QStringLiteral("SET HOST INFORMATION"));
    setSubTitle(QStringLiteral("Insert the host information for the host you will be testing."));

    m_host = NewTextEdit(QStringLiteral("hostEdit"), this);
    m_nickname = NewTextEdit(QStringLiteral("nicknameEdit"), this);
    m_address = NewTextEdit(QStringLiteral("addressEdit"), this);
    m_address->setReadOnly(true);
    m_address->setEnabled(false);
    m_host->setText(state.fields.host);
    m_nickname->setText(state.fields.nickname);
    m_address->setText(state.fields.address);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Host:"), m_host);
    form->addRow(QStringLiteral("Nickname:"), m_nickname);
    form->addRow(QStringLiteral("IP Address:"), m_address);

    m_host->installEventFilter(this);
    connect(m_host, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_state.fields.host = text;
        // The address belonged to the name before: a new name has none until
        // its look-up answers, so it cannot be finished with a stale one.
        m_address->clear();
        m_state.fields.address.clear();
        Q_EMIT hostChanged();
    });
    connect(m_nickname, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_state.fields.nickname = text; });
}

bool HostPageGeneral::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_host && event->type() == QEvent::FocusOut)
        startLookup();
    return HostPage::eventFilter(watched, event);
}

void HostPageGeneral::startLookup()
{
    const QString name = m_host->text().trimmed();
    if (name != m_host->text())
        m_host->setText(name);
    const int ticket = ++m_lastTicket;
    if (name.isEmpty()) {
        lookupDone(ticket, {});
        return;
    }
    m_pendingTicket = ticket;
    setCursor(Qt::WaitCursor);
    const CallerRelay::Handle relay = m_relay.handle();
    const ThreadStart started = StartDetachedThread([this, relay, ticket, host = name.toStdString()] {
        // A name that does not resolve leaves the address empty; the wizard
        // shows that, not the probe's "Can't resolve" event.
        DiscardingSink sink;
        ProbeSocket probe(sink);
        const QString address = QString::fromStdString(probe.LookupAddressText(host));
        relay.post([this, ticket, address] { lookupDone(ticket, address); });
    });
    if (!started.started)
        lookupDone(ticket, {});
}

void HostPageGeneral::lookupDone(int ticket, const QString& address)
{
    // Only the answer for the name that was left last counts.
    if (ticket != m_lastTicket)
        return;
    m_pendingTicket = 0;
    unsetCursor();
    setAddress(address);
}

void HostPageGeneral::setAddress(const QString& address)
{
    m_address->setText(address);
    m_state.fields.address = address;
    Q_EMIT hostChanged();
}

} // namespace qm::ui
