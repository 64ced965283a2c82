#pragma once

#include "ui/ConfigPage.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace qm::ui {

// "Database Configuration": the results database, a file (with a Browse) or
// a database on a PostgreSQL server.
class ConfigPageDatabase : public ConfigPage
{
    Q_OBJECT
public:
    explicit ConfigPageDatabase(QWidget* parent = nullptr);
    void save(SettingsStore& store) const override;
    QString problem() const override;

protected:
    void load(const SettingsStore& store) override;

private:
    void browse();
    void showDriver();
    bool onServer() const;

    QComboBox* m_driver;
    QLineEdit* m_file;
    QPushButton* m_browse;
    QLineEdit* m_host;
    QLineEdit* m_port;
    QLineEdit* m_name;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_keepDays;
};

} // namespace qm::ui
