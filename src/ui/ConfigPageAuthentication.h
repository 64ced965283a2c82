#pragma once

#include "ui/ConfigPage.h"

class QLineEdit;

namespace qm::ui {

// "Authentication Defaults": the credentials a new host starts with.
class ConfigPageAuthentication : public ConfigPage
{
    Q_OBJECT
public:
    explicit ConfigPageAuthentication(QWidget* parent = nullptr);
    void save(SettingsStore& store) const override;

protected:
    void load(const SettingsStore& store) override;

private:
    QLineEdit* m_userId;
    QLineEdit* m_password;
    QLineEdit* m_domain;
};

} // namespace qm::ui
