// The main window's command handlers: each acts on the selected rows or opens
// a dialog; the engine does the work.

#include "engine/HostRowCommands.h"
#include "engine/MonitorSystem.h"
#include "platform/OperatorPrompt.h"
#include "store/ConfigSections.h"
#include "store/HostStore.h"
#include "ui/AboutDialog.h"
#include "ui/ConfigureSheet.h"
#include "ui/HelpWindow.h"
#include "ui/HostListView.h"
#include "ui/HostWizard.h"
#include "ui/LogViewerDialog.h"
#include "ui/MainWindow.h"
#include "ui/TraceRouteDialog.h"

#include <QAction>
#include <QMessageBox>

namespace qm::ui {

void MainWindow::onInsert()
{
    if (m_system.controller().isMonitoring())
        return;
    auto* wizard = new HostWizard(m_system.store(), NewHostFromDefaults(m_system.store()), true, this, &m_prompt);
    wizard->setAttribute(Qt::WA_DeleteOnClose);
    connect(wizard, &QDialog::accepted, this, [this, wizard] {
        if (!m_system.controller().isMonitoring())
            m_system.hosts().insertHost(0, wizard->result(), kHealthNoResult);
    });
    openHostWizard(wizard);
}

void MainWindow::onProperties()
{
    const std::vector<int> rows = m_hostList->selectedRows();
    if (m_system.controller().isMonitoring() || rows.empty())
        return;
    HostListModel& hosts = m_system.hosts();
    // The row is followed by a persistent index in case the list changes
    // while the wizard is open.
    const QPersistentModelIndex target(hosts.index(rows.front(), 0));
    auto* wizard = new HostWizard(m_system.store(), hosts.texts(rows.front()), false, this, &m_prompt);
    wizard->setAttribute(Qt::WA_DeleteOnClose);
    connect(wizard, &QDialog::accepted, this, [this, wizard, target] {
        if (!target.isValid() || m_system.controller().isMonitoring())
            return;
        HostListModel& model = m_system.hosts();
        const HostTexts texts = wizard->result();
        for (int c = 0; c < kHostColumnCount; ++c)
            model.setText(target.row(), c, texts[static_cast<std::size_t>(c)]);
        model.setImage(target.row(), kHealthNoResult);
    });
    openHostWizard(wizard);
}

void MainWindow::openHostWizard(QDialog* wizard)
{
    m_hostWizard = wizard;
    connect(wizard, &QDialog::finished, this, [this] {
        m_hostWizard = nullptr;
        updateActions();
    });
    updateActions();
    wizard->open();
}

void MainWindow::onConfigure()
{
    auto* sheet = new ConfigureSheet(m_system.store(), this, &m_prompt);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    // Retention applies at once; the other settings at the next Start or use.
    connect(sheet, &QDialog::accepted, this,
            [this] { m_system.database().setKeepDays(LoadKeepDays(m_system.store())); });
    sheet->open();
}

void MainWindow::onDelete()
{
    if (m_system.controller().isMonitoring())
        return;
    DeleteRows(m_system.hosts(), m_hostList->selectedRows());
}

void MainWindow::onClearStats()
{
    qm::ClearStats(m_system.hosts(), m_hostList->selectedRows());
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
            m_prompt.inform(OperatorPrompt::Icon::Stop, "Error");
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
