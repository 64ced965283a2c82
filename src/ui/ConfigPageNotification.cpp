#include "ui/ConfigPageNotification.h"

#include "store/ConfigSections.h"
#include "ui/NotificationPageWidget.h"

#include <QCheckBox>
#include <QVBoxLayout>

namespace qm::ui {

ConfigPageNotification::ConfigPageNotification(OperatorPrompt* prompt, QWidget* parent)
    : ConfigPage(QStringLiteral("configPageNotification"), QStringLiteral("Notification Defaults"),
                 parent)
{
    m_panel = new NotificationPageWidget(NotificationPageWidget::Mode::Defaults, prompt, this);
    m_desktopNotify = new QCheckBox(
        QStringLiteral("Show a desktop notification when a host goes down or comes back up"), this);
    m_desktopNotify->setObjectName(QStringLiteral("desktopNotifyCheck"));
    m_trayOnClose = new QCheckBox(
        QStringLiteral("Keep monitoring in the tray when the window is closed"), this);
    m_trayOnClose->setObjectName(QStringLiteral("trayOnCloseCheck"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_panel, 1);
    layout->addWidget(m_desktopNotify);
    layout->addWidget(m_trayOnClose);
}

void ConfigPageNotification::load(const SettingsStore& store)
{
    m_panel->setFields(LoadNotificationDefaults(store));
    const DesktopDefaults desktop = LoadDesktopDefaults(store);
    m_desktopNotify->setChecked(desktop.desktopNotify);
    m_trayOnClose->setChecked(desktop.trayOnClose);
}

void ConfigPageNotification::save(SettingsStore& store) const
{
    SaveNotificationDefaults(store, m_panel->fields());
    SaveDesktopDefaults(store, {m_trayOnClose->isChecked(), m_desktopNotify->isChecked()});
}

} // namespace qm::ui
