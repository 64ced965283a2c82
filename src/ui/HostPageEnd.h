#pragma once

#include "ui/HostPage.h"

namespace qm::ui {

// Page 9: the completion page. Finish is offered only when the host has both
// a name and an address, so a host whose name does not resolve cannot be
// finished.
class HostPageEnd : public HostPage
{
    Q_OBJECT
public:
    explicit HostPageEnd(HostWizardState& state, QWidget* parent = nullptr);
    bool isComplete() const override;
};

} // namespace qm::ui
