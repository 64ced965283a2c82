// The main window's command handlers: each acts on the selected rows or opens
// a dialog; the engine does the work.

#include "engine/HostRowCommands.h"
#include "engine/MonitorSystem.h"
#include "ui/AboutDialog.h"
#include "ui/HelpWindow.h"
#include "ui/HostListView.h"
#include "ui/LogViewerDialog.h"
#include "ui/MainWindow.h"
#include "ui/TraceRouteDialog.h"

#include <QAction>
#include <QMessageBox>

namespace qm::ui {

void MainWindow::showMessage(QMessageBox::Icon icon, const QString& text)
{
    auto* box = new QMessageBox(icon, QStringLiteral("Quillmere"), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("messageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::onInsert()
{
    if (m_system.controller().isMonitoring())
        return;
    showMessage(QMessageBox::Information, QStringLiteral("The host wizard is not available yet."));
}

void MainWindow::onProperties()
{
    if (m_system.controller().isMonitoring() || m_hostList->selectedRows().empty())
        return;
    showMessage(QMessageBox::Information, QStringLiteral("The host wizard is not available yet."));
}

void MainWindow::onConfigure()
{
    showMessage(QMessageBox::Information, QStringLiteral("The configuration sheet is not available yet."));
}

void MainWindow::onDelete()
{
    if (m_system.controller().isMonitoring())
        return;
    DeleteRows(m_system.hosts(), m_hostList->selectedRows());
}

void MainWindow::onClearStats()
{
    ClearStats(m_system.hosts(), m_hostList->selectedRows());
}

void MainWindow::onSetPolling(bool enabled)
{
    SetPolling(m_system.hosts(), m_hostList->selectedRows(), enabled);
}

void MainWindow::onTraceRoute()
{
    const std::vector<int> rows = m_hostList->selectedRows();
    const QString host = rows.empty() ? QString() : m_system.hosts().text(rows.front(), ColHost);
    auto* dialog = new TraceRouteDialog(host, m_prompt, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainWindow::askYesNo(const QString& text, std::function<void()> onYes)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Quillmere"), text,
                                QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("confirmBox"));
    box->setDefaultButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [onYes = std::move(onYes)](int result) {
        if (result == QMessageBox::Yes)
            onYes();
    });
    box->open();
}

void MainWindow::onClearLogs()
{
    askYesNo(QStringLiteral("Warning you are about to clear the entire log database\nand the data will be lost "
                            "forever.\n\nAre you sure you want to do this?"),
             [this] {
                 m_system.database().ClearHistory();
                 m_system.pane().clear();
             });
}

void MainWindow::onViewLogs()
{
    askYesNo(QStringLiteral("Warning you are about to view log database.\nLoading and searching the data may take "
                            "a long time.\n\nAre you sure you want to do this?"),
             [this] {
                 auto* dialog = new LogViewerDialog(m_system.database().GetDatabase(), m_prompt, this);
                 dialog->setAttribute(Qt::WA_DeleteOnClose);
                 dialog->open();
             });
}

void MainWindow::onHelp(Command which)
{
    if (!m_help) {
        m_help = new HelpWindow(HelpWindow::helpDirectory(), this);
        m_help->setWindowFlag(Qt::Window);
        m_help->setAttribute(Qt::WA_DeleteOnClose);
    }
    switch (which) {
    case HelpSearch: m_help->showSearch(); break;
    case HelpIndex: m_help->showIndex(); break;
    default:
        if (!m_help->showContents())
            showMessage(QMessageBox::Critical, QStringLiteral("Error"));
        break;
    }
}

void MainWindow::onAbout()
{
    auto* dialog = new AboutDialog(m_system.database().fileName(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

} // namespace qm::ui
