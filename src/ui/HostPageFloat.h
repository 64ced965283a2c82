#pragma once

#include "ui/HostPage.h"

class QCheckBox;
class QSlider;

namespace qm::ui {

// Page 6: float errors on or off and their sensitivity, a slider from 1
// ("low") to 11 ("high") that is enabled only while float errors are on.
class HostPageFloat : public HostPage
{
    Q_OBJECT
public:
    explicit HostPageFloat(HostWizardState& state, QWidget* parent = nullptr);

private:
    QCheckBox* m_enable;
    QSlider* m_sensitivity;
};

} // namespace qm::ui
