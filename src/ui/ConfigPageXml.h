#pragma once

#include "ui/ConfigPage.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qm::ui {

// "XML Configuration": the status export. "Enable XML Updates" enables the
// update frequency and the two destination radios; each radio enables its own
// fields (the local folder with its Browse, or the FTP URL, user id and
// password). Below, the Prometheus metrics endpoint ("ConfigMetrics"): its
// switch and listen address, used from the next Start on.
class ConfigPageXml : public ConfigPage
{
    Q_OBJECT
public:
    explicit ConfigPageXml(QWidget* parent = nullptr);
    void save(SettingsStore& store) const override;
    QString problem() const override;

protected:
    void load(const SettingsStore& store) override;

private:
    void applyEnabling();
    void browseFolder();

    QCheckBox* m_enable;
    QLineEdit* m_frequency;
    QRadioButton* m_localRadio;
    QLineEdit* m_localFolder;
    QPushButton* m_browse;
    QRadioButton* m_ftpRadio;
    QLineEdit* m_ftpUrl;
    QLineEdit* m_ftpUser;
    QLineEdit* m_ftpPassword;
    QCheckBox* m_metricsEnable;
    QLineEdit* m_metricsListen;
};

} // namespace qm::ui
