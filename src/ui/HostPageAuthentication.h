#pragma once

#include "ui/HostPage.h"

class QLineEdit;

namespace qm::ui {

// Page 4: user id, password (shown masked, held in clear, stored encoded) and
// e-mail domain. Each box is enabled by its flag from the Protocol page; a
// disabled box keeps its value, which is still written.
class HostPageAuthentication : public HostPage
{
    Q_OBJECT
public:
    explicit HostPageAuthentication(HostWizardState& state, QWidget* parent = nullptr);
    void activate() override;

private:
    QLineEdit* m_userId;
    QLineEdit* m_password;
    QLineEdit* m_domain;
};

} // namespace qm::ui
