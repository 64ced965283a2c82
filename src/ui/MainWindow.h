#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <map>

class QAction;
class QDialog;
class QLabel;
class QMenu;
class QSplitter;
class QTimer;

namespace qm {
class MonitorSystem;
class OperatorPrompt;
}

namespace qm::ui {

class HelpWindow;
class HostListView;
class MessagePaneView;
class TrayIcon;

// The main window: the host list over the message pane, menus, toolbar,
// shortcut menu and status bar. It owns none of the engine: it shows the
// system's models and sends commands to its controller.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // The commands of the window; each is one QAction shared by menu,
    // toolbar, shortcut menu and keys.
    enum Command {
        Insert, Delete, Properties, ClearStats, EnablePolling, DisablePolling, TraceRoute,
        Start, Stop, ClearLogs, ViewLogs, Configure, Exit, MessagePane, HelpContents, HelpSearch,
        HelpIndex, About, CommandCount
    };

    // Threads still probing at close get this long to end before the window
    // closes without them.
    static constexpr int kCloseGraceMs = 15000;

    MainWindow(MonitorSystem& system, OperatorPrompt& prompt, QWidget* parent = nullptr);
    ~MainWindow() override;

    QAction* action(Command command) const { return m_actions[command]; }
    QAction* columnAction(int column) const;
    HostListView* hostList() const { return m_hostList; }
    MessagePaneView* messagePane() const { return m_messagePane; }
    bool isMessagePaneShown() const { return m_messagePaneShown; }
    TrayIcon* trayIcon() const { return m_tray; }

    // Enables each command as monitoring and closing allow.
    void updateActions();

    // Writes the host rows, the column preferences and the window's layout to
    // the settings store and the disk; false with the reason when the file
    // could not be written.
    bool saveState(QString* error = nullptr);

Q_SIGNALS:
    // The window has closed for good: threads ended (or their grace ran out)
    // and the state is saved.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    void restoreLayout();
    void toggleMessagePane();
    void showShortcutMenu(const QPoint& globalPos);

    // Command handlers.
    void onInsert();
    void onDelete();
    void onProperties();
    void onClearStats();
    void onSetPolling(bool enabled);
    void onTraceRoute();
    void onClearLogs();
    void onViewLogs();
    void onConfigure();
    void onHelp(Command which);
    void onAbout();

    // A Yes/No question shown window-modal; `onYes` runs after Yes.
    void askYesNo(const QString& text, std::function<void()> onYes);
    // Close, once the threads have ended or their grace ran out: the
    // notifications queued so far and an upload under way go out first.
    void waitForPendingWork();
    void showClosingStatus(const QString& text);
    void finishClose();
    // Opens the host wizard; Start waits until it is closed.
    void openHostWizard(QDialog* wizard);
    void updateLockIndicators();

    MonitorSystem& m_system;
    OperatorPrompt& m_prompt;
    std::array<QAction*, CommandCount> m_actions{};
    std::map<int, QAction*> m_columnActions;
    HostListView* m_hostList = nullptr;
    MessagePaneView* m_messagePane = nullptr;
    QSplitter* m_splitter = nullptr;
    QMenu* m_viewMenu = nullptr;
    QLabel* m_exportStatus = nullptr;
    QLabel* m_diskStatus = nullptr;
    std::array<QLabel*, 3> m_lockLabels{};
    QTimer* m_lockTimer = nullptr;
    QPointer<HelpWindow> m_help;
    bool m_messagePaneShown = false;
    bool m_closing = false;      // close asked for; waiting for the threads, then the notifications
    bool m_readyToClose = false; // threads ended or their grace ran out
    QTimer* m_closeTimer = nullptr;
    QElapsedTimer m_closeClock; // since the close was asked for
    TrayIcon* m_tray = nullptr;
    QLabel* m_closingStatus = nullptr;
    // The host wizard while it is open: the host set is being edited, so
    // monitoring cannot start.
    QPointer<QWidget> m_hostWizard;
};

} // namespace qm::ui
