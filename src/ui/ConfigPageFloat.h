#pragma once

#include "ui/ConfigPage.h"

class QCheckBox;
class QSlider;

namespace qm::ui {

// "Float Error Defaults": float errors on or off for a new host and the
// sensitivity slider, 1 ("low") to 11 ("high"), enabled while they are on.
class ConfigPageFloat : public ConfigPage
{
    Q_OBJECT
public:
    explicit ConfigPageFloat(QWidget* parent = nullptr);
    void save(SettingsStore& store) const override;

protected:
    void load(const SettingsStore& store) override;

private:
    QCheckBox* m_enable;
    QSlider* m_sensitivity;
};

} // namespace qm::ui
