#pragma once

#include "ui/HostPage.h"

namespace qm::ui {

// Page 8: whether the host is polled when monitoring starts.
class HostPageEnable : public HostPage
{
    Q_OBJECT
public:
    explicit HostPageEnable(HostWizardState& state, QWidget* parent = nullptr);
};

} // namespace qm::ui
