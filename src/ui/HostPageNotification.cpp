#include "ui/HostPageNotification.h"

#include "store/ConfigSections.h"
#include "ui/NotificationPageWidget.h"

#include <QVBoxLayout>

namespace qm::ui {

HostPageNotification::HostPageNotification(HostWizardState& state, QWidget* parent)
    : HostPage(state, QStringLiteral("hostPageNotification"), QStringLiteral("Notification"), parent)
{
    setTitle(QStringLiteral("SET NOTIFICATION OPTIONS"));
    setSubTitle(QStringLiteral("test"));
    m_panel = new NotificationPageWidget(NotificationPageWidget::Mode::Host, state.prompt, this);
    m_panel->setFields(state.fields.notification);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_panel);
    connect(m_panel, &NotificationPageWidget::changed, this,
            [this] { m_state.fields.notification = m_panel->fields(); });
}

void HostPageNotification::activate()
{
    if (m_state.store) {
        const NotificationFields defaults = LoadNotificationDefaults(*m_state.store);
        NotificationFields f = m_panel->fields();
        f.mailFrom = defaults.mailFrom;
        f.modemDevice = defaults.modemDevice;
        m_panel->setFields(f);
        m_state.fields.notification = f;
    }
    m_panel->applyEnabling();
}

} // namespace qm::ui
