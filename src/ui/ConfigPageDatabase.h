#pragma once

#include "ui/ConfigPage.h"

class QLineEdit;

namespace qm::ui {

// "Database Configuration": the results database file, with a Browse.
class ConfigPageDatabase : public ConfigPage
{
    Q_OBJECT
public:
    explicit ConfigPageDatabase(QWidget* parent = nullptr);
    void save(SettingsStore& store) const override;

protected:
    void load(const SettingsStore& store) override;

private:
    void browse();

    QLineEdit* m_file;
};

} // namespace qm::ui
