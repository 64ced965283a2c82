#pragma once

#include "store/LogViewCursor.h"

#include <QDialog>
#include <QSqlDatabase>
#include <QTimer>

class QComboBox;
class QLineEdit;
class QTableView;

namespace qm {
class OperatorPrompt;
}

namespace qm::ui {

// "View Logs": the recorded polls of one service (host, protocol, port) in
// time order, with the number of polls and the average response time.
//
// The table can be large and is read on the connection of the main thread,
// so both reads (the hosts, then the rows of the chosen service) run a slice
// of at most about 10 ms per event-loop turn; rows appear as they come, and
// the operator can choose another service or close the dialog at any time.
class LogViewerDialog : public QDialog
{
    Q_OBJECT

public:
    // The result list's rows answer this role with whether they are selected.
    static constexpr int kSelectedRole = Qt::UserRole + 1;

    LogViewerDialog(QSqlDatabase db, OperatorPrompt& prompt, QWidget* parent = nullptr);
    ~LogViewerDialog() override;

    // The service to show first, given before the dialog is opened.
    void presetService(const QString& host, const QString& protocol, const QString& port);

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    class ResultModel;
    class RowSelection;

    void pump();
    void hostsLoaded();
    void serviceLoaded();
    void onProtocolChosen();
    void onServiceChosen();
    void showValues();
    void runQuery();
    void updateLoading();

    LogViewCursor m_hostReader;
    LogViewCursor m_serviceReader;
    QTimer m_pump;
    bool m_started = false;
    bool m_chosen = false; // the operator chose a service before the hosts were in
    QString m_host;
    QString m_protocol;
    QString m_port;

    QComboBox* m_hostCombo = nullptr;
    QComboBox* m_protocolCombo = nullptr;
    QComboBox* m_portCombo = nullptr;
    QTableView* m_resultList = nullptr;
    ResultModel* m_model = nullptr;
    QLineEdit* m_averageEdit = nullptr;
    QLineEdit* m_pollsEdit = nullptr;
    QWidget* m_loading = nullptr;
};

} // namespace qm::ui
