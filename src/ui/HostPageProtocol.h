#pragma once

#include "ui/HostPage.h"

class QComboBox;
class QLineEdit;

namespace qm::ui {

// Page 3: the protocol, from the protocol table, sorted, and the port. Each
// time the page becomes active, and whenever the selection changes, the
// selected protocol is applied: it sets the authentication flags, enables the
// port box (not for "ECHO") and puts its default port there, so a port of
// one's own is typed after choosing the protocol.
class HostPageProtocol : public HostPage
{
    Q_OBJECT
public:
    explicit HostPageProtocol(HostWizardState& state, QWidget* parent = nullptr);

    void activate() override;
    bool validatePage() override;

private:
    void applyProtocol();

    QComboBox* m_protocol;
    QLineEdit* m_port;
};

} // namespace qm::ui
