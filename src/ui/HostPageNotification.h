#pragma once

#include "ui/HostPage.h"

namespace qm::ui {

class NotificationPageWidget;

// Page 7: how the operator is told when this host goes down or comes back.
// Each time it becomes active it takes the sender address and the modem
// device from the notification defaults, for its test buttons.
class HostPageNotification : public HostPage
{
    Q_OBJECT
public:
    explicit HostPageNotification(HostWizardState& state, QWidget* parent = nullptr);
    void activate() override;

    NotificationPageWidget* panel() const { return m_panel; }

private:
    NotificationPageWidget* m_panel;
};

} // namespace qm::ui
