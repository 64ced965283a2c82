#pragma once

#include "ui/ConfigPage.h"

class QCheckBox;

namespace qm::ui {

class NotificationPageWidget;

// "Notification Defaults": the notification settings of a new host, the
// sender of every alert mail and the modem of the pager calls, with the test
// buttons; then the desktop program's own two switches: hiding the window in
// the tray when it is closed while monitoring runs, and desktop notifications.
class ConfigPageNotification : public ConfigPage
{
    Q_OBJECT
public:
    explicit ConfigPageNotification(OperatorPrompt* prompt, QWidget* parent = nullptr);
    void save(SettingsStore& store) const override;
    NotificationPageWidget* panel() const { return m_panel; }

protected:
    void load(const SettingsStore& store) override;

private:
    NotificationPageWidget* m_panel;
    QCheckBox* m_trayOnClose;
    QCheckBox* m_desktopNotify;
};

} // namespace qm::ui
