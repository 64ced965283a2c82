#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;

namespace qm::ui {

// The About box: program name and version, the space of the disk that holds
// the results database and the memory figures of the machine, read afresh
// each time the box is shown.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(const QString& databaseFile, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    QString m_databaseFile;
    QLineEdit* m_diskFree = nullptr;
    QLineEdit* m_diskTotal = nullptr;
    QLineEdit* m_availPhysical = nullptr;
    QLineEdit* m_availVirtual = nullptr;
    QLineEdit* m_availPageFile = nullptr;
    QLineEdit* m_totalPageFile = nullptr;
    QLineEdit* m_totalPhysical = nullptr;
    QLineEdit* m_totalVirtual = nullptr;
};

} // namespace qm::ui
