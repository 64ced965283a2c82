#pragma once

#include "ui/ConfigPage.h"

class QLineEdit;

namespace qm::ui {

// "Frequency Defaults": the seconds between polls of a new host.
class ConfigPageFrequency : public ConfigPage
{
    Q_OBJECT
public:
    explicit ConfigPageFrequency(QWidget* parent = nullptr);
    void save(SettingsStore& store) const override;
    QString problem() const override;

protected:
    void load(const SettingsStore& store) override;

private:
    QLineEdit* m_seconds;
};

} // namespace qm::ui
