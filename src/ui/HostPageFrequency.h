#pragma once

#include "ui/HostPage.h"

class QLineEdit;

namespace qm::ui {

// Page 5: the number of seconds between two polls of the host.
class HostPageFrequency : public HostPage
{
    Q_OBJECT
public:
    explicit HostPageFrequency(HostWizardState& state, QWidget* parent = nullptr);
    bool validatePage() override;

private:
    QLineEdit* m_seconds;
};

} // namespace qm::ui
