#include "ui/ConfigPageNotification.h"

#include "store/ConfigSections.h"
#include "ui/NotificationPageWidget.h"

#include <QVBoxLayout>

namespace qm::ui {

ConfigPageNotification::ConfigPageNotification(OperatorPrompt* prompt, QWidget* parent)
    : ConfigPage(QStringLiteral("configPageNotification"), QStringLiteral("Notification Defaults"), parent)
{
    m_panel = new NotificationPageWidget(NotificationPageWidget::Mode::Defaults, prompt, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_panel);
}

void ConfigPageNotification::load(const SettingsStore& store)
{
    m_panel->setFields(LoadNotificationDefaults(store));
}

void ConfigPageNotification::save(SettingsStore& store) const
{
    SaveNotificationDefaults(store, m_panel->fields());
}

} // namespace qm::ui
