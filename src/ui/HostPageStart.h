#pragma once

#include "ui/HostPage.h"

namespace qm::ui {

// Page 1: the welcome page, with the side image and no header.
class HostPageStart : public HostPage
{
    Q_OBJECT
public:
    explicit HostPageStart(HostWizardState& state, QWidget* parent = nullptr);
};

} // namespace qm::ui
