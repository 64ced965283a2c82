#include "ui/MainWindow.h"

#include "engine/MonitorSystem.h"
#include "platform/KeyboardLeds.h"
#include "platform/OperatorPrompt.h"
#include "store/ConfigSections.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"
#include "ui/CommandIcons.h"
#include "ui/HelpWindow.h"
#include "ui/HostListView.h"
#include "ui/MessagePaneView.h"
#include "ui/TrayIcon.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace qm::ui {

namespace {

const QString kPreferences = QStringLiteral("PREFERENCES");

struct CommandEntry
{
    const char* objectName;
    const char* text;      // menu text with its mnemonic
    const char* statusTip; // shown in the status bar's prompt area
    QKeySequence key;
    std::optional<CommandIcon> icon;
};

const std::array<CommandEntry, MainWindow::CommandCount>& Commands()
{
    static const std::array<CommandEntry, MainWindow::CommandCount> commands{{
        {"actionInsert", "&Insert", "Add a new host to monitor", QKeySequence(Qt::Key_Insert), CommandIcon::Insert},
        {"actionDelete", "&Delete", "Remove the selected hosts", QKeySequence(Qt::Key_Delete), CommandIcon::Delete},
        {"actionProperties", "P&roperties", "Edit the settings of the selected host",
         QKeySequence(Qt::ALT | Qt::Key_Return), CommandIcon::Properties},
        {"actionClearStats", "&Clear Stats", "Reset the polls and failures of the selected hosts", {},
         CommandIcon::ClearStats},
        {"actionEnablePolling", "&Enable Polling", "Poll the selected hosts when monitoring starts", {}, {}},
        {"actionDisablePolling", "Di&sable Polling", "Leave the selected hosts out when monitoring starts", {}, {}},
        {"actionTraceRoute", "&Trace Route", "Trace the route to the selected host", {}, CommandIcon::TraceRoute},
        {"actionStart", "&Start", "Start monitoring every enabled host", QKeySequence(Qt::Key_F5), CommandIcon::Start},
        {"actionStop", "S&top", "Stop monitoring", QKeySequence(Qt::SHIFT | Qt::Key_F5), CommandIcon::Stop},
        {"actionClearLogs", "&Clear the Logs", "Delete every recorded result", {}, CommandIcon::ClearLogs},
        {"actionViewLogs", "&View", "Browse the recorded results of one service", {}, CommandIcon::ViewLogs},
        {"actionConfigure", "&Configure", "Edit the defaults, the database and the XML export", {},
         CommandIcon::Configure},
        {"actionExit", "E&xit", "Stop monitoring and close Quillmere", QKeySequence(Qt::CTRL | Qt::Key_Q), {}},
        {"actionMessagePane", "&Message Pane", "Show or hide the results of the checked hosts", {},
         CommandIcon::MessagePane},
        {"actionHelpContents", "&Contents...", "Open the manual's table of contents", QKeySequence::HelpContents,
         CommandIcon::Help},
        {"actionHelpSearch", "&Search...", "Search the manual", {}, {}},
        {"actionHelpIndex", "&Index...", "Open the manual's index", {}, {}},
        {"actionAbout", "&About", "Program version, disk and memory figures", {}, CommandIcon::About},
    }};
    return commands;
}

// The switchable columns in the order the View > Columns menu lists them,
// with their menu texts (the titles with a mnemonic each).
constexpr std::array<std::pair<HostColumn, const char*>, 11> kColumnMenu{{
    {ColNickname, "&Nickname"},
    {ColProtocol, "&Protocol"},
    {ColPort, "P&ort"},
    {ColThreadStatus, "&Thread Status"},
    {ColFreq, "&Freq"},
    {ColResponseTime, "&Response Time"},
    {ColMessage, "&Message"},
    {ColPolls, "Po&lls"},
    {ColFailures, "F&ailures"},
    {ColPercFailure, "%Fa&ilure"},
    {ColUserId, "&UserID"},
}};

} // namespace

MainWindow::MainWindow(MonitorSystem& system, OperatorPrompt& prompt, QWidget* parent)
    : QMainWindow(parent), m_system(system), m_prompt(prompt)
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Quillmere"));
    setWindowIcon(applicationIcon());

    m_hostList = new HostListView(system.hosts());
    m_messagePane = new MessagePaneView(system.pane());
    m_splitter = new QSplitter(Qt::Vertical);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->addWidget(m_hostList);
    m_splitter->addWidget(m_messagePane);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    setCentralWidget(m_splitter);
    m_messagePane->hide();

    createActions();
    createMenus();
    createToolBar();
    createStatusBar();
    resize(900, 560);
    restoreLayout();

    m_hostList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_hostList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { showShortcutMenu(m_hostList->viewport()->mapToGlobal(pos)); });
    connect(m_hostList, &HostListView::columnToggled, this, [this](int column, bool shown) {
        if (QAction* a = columnAction(column))
            a->setChecked(shown);
    });

    MonitorController& controller = system.controller();
    connect(&controller, &MonitorController::monitoringStarted, this, &MainWindow::updateActions);
    connect(&controller, &MonitorController::monitoringStopped, this, &MainWindow::updateActions);
    connect(&controller, &MonitorController::allThreadsEnded, this, [this] {
        if (m_closing)
            waitForPendingWork();
    });
    connect(&system.exporter(), &ExportScheduler::lastExportTextChanged, m_exportStatus, &QLabel::setText);
    connect(&system.exporter(), &ExportScheduler::diskTextChanged, m_diskStatus, &QLabel::setText);

    // The tray says Quit for what the File menu calls Exit.
    auto* quit = new QAction(QStringLiteral("&Quit"), this);
    quit->setObjectName(QStringLiteral("actionQuit"));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    m_tray = new TrayIcon(system, *this, m_actions[Start], m_actions[Stop], quit, this);
    updateActions();
}

MainWindow::~MainWindow() = default;

QAction* MainWindow::columnAction(int column) const
{
    const auto it = m_columnActions.find(column);
    return it == m_columnActions.end() ? nullptr : it->second;
}

void MainWindow::createActions()
{
    const auto& entries = Commands();
    for (int i = 0; i < CommandCount; ++i) {
        const CommandEntry& command = entries[static_cast<std::size_t>(i)];
        auto* a = new QAction(QString::fromLatin1(command.text), this);
        a->setObjectName(QString::fromLatin1(command.objectName));
        a->setStatusTip(QString::fromLatin1(command.statusTip));
        if (!command.key.isEmpty()) {
            a->setShortcut(command.key);
            a->setShortcutContext(Qt::WindowShortcut);
        }
        if (command.icon)
            a->setIcon(commandIcon(*command.icon));
        m_actions[static_cast<std::size_t>(i)] = a;
    }
    // Alt+Enter on the keypad too.
    m_actions[Properties]->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::ALT | Qt::Key_Enter)});
    m_actions[MessagePane]->setCheckable(true);

    connect(m_actions[Insert], &QAction::triggered, this, &MainWindow::onInsert);
    connect(m_actions[Delete], &QAction::triggered, this, &MainWindow::onDelete);
    connect(m_actions[Properties], &QAction::triggered, this, &MainWindow::onProperties);
    connect(m_actions[ClearStats], &QAction::triggered, this, &MainWindow::onClearStats);
    connect(m_actions[EnablePolling], &QAction::triggered, this, [this] { onSetPolling(true); });
    connect(m_actions[DisablePolling], &QAction::triggered, this, [this] { onSetPolling(false); });
    connect(m_actions[TraceRoute], &QAction::triggered, this, &MainWindow::onTraceRoute);
    connect(m_actions[Start], &QAction::triggered, this, [this] {
        if (!m_closing)
            m_system.controller().OnMonitoringStart();
        updateActions();
    });
    connect(m_actions[Stop], &QAction::triggered, this, [this] {
        m_system.controller().OnMonitoringStop();
        updateActions();
    });
    connect(m_actions[ClearLogs], &QAction::triggered, this, &MainWindow::onClearLogs);
    connect(m_actions[ViewLogs], &QAction::triggered, this, &MainWindow::onViewLogs);
    connect(m_actions[Configure], &QAction::triggered, this, &MainWindow::onConfigure);
    connect(m_actions[Exit], &QAction::triggered, this, &QWidget::close);
    connect(m_actions[MessagePane], &QAction::triggered, this, &MainWindow::toggleMessagePane);
    connect(m_actions[HelpContents], &QAction::triggered, this, [this] { onHelp(HelpContents); });
    connect(m_actions[HelpSearch], &QAction::triggered, this, [this] { onHelp(HelpSearch); });
    connect(m_actions[HelpIndex], &QAction::triggered, this, [this] { onHelp(HelpIndex); });
    connect(m_actions[About], &QAction::triggered, this, &MainWindow::onAbout);

    const ColumnPreferences prefs = LoadColumnPreferences(m_system.store());
    m_hostList->applyPreferences(prefs);
    for (const auto& [column, menuText] : kColumnMenu) {
        auto* a = new QAction(QString::fromLatin1(menuText), this);
        a->setObjectName(QStringLiteral("actionColumn%1").arg(static_cast<int>(column)));
        a->setCheckable(true);
        a->setChecked(m_hostList->isColumnShown(column));
        a->setStatusTip(QStringLiteral("Show or hide the column \"%1\"").arg(ColumnTitle(column)));
        connect(a, &QAction::triggered, this, [this, column] { m_hostList->toggleColumn(column); });
        m_columnActions[column] = a;
    }
}

void MainWindow::createMenus()
{
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("menuFile"));
    file->addAction(m_actions[Configure]);
    file->addSeparator();
    file->addAction(m_actions[Exit]);

    QMenu* host = bar->addMenu(QStringLiteral("H&ost"));
    host->setObjectName(QStringLiteral("menuHost"));
    host->addActions({m_actions[Insert], m_actions[Delete], m_actions[Properties]});
    host->addSeparator();
    host->addActions({m_actions[ClearStats], m_actions[EnablePolling], m_actions[DisablePolling]});
    host->addSeparator();
    host->addAction(m_actions[TraceRoute]);

    QMenu* monitoring = bar->addMenu(QStringLiteral("&Monitoring"));
    monitoring->setObjectName(QStringLiteral("menuMonitoring"));
    monitoring->addActions({m_actions[Start], m_actions[Stop]});

    QMenu* logs = bar->addMenu(QStringLiteral("&Logs"));
    logs->setObjectName(QStringLiteral("menuLogs"));
    logs->addActions({m_actions[ClearLogs], m_actions[ViewLogs]});

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("menuView"));
    m_viewMenu = view;

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("menuHelp"));
    help->addActions({m_actions[HelpContents], m_actions[HelpSearch], m_actions[HelpIndex]});
    help->addSeparator();
    help->addAction(m_actions[About]);
}

void MainWindow::createToolBar()
{
    QToolBar* tools = addToolBar(QStringLiteral("Toolbar"));
    tools->setObjectName(QStringLiteral("toolBar"));
    tools->setMovable(true);
    tools->setIconSize(QSize(24, 24));
    tools->addActions({m_actions[Insert], m_actions[Delete]});
    tools->addSeparator();
    tools->addActions({m_actions[Start], m_actions[Stop]});
    tools->addSeparator();
    tools->addAction(m_actions[ClearStats]);
    tools->addSeparator();
    tools->addAction(m_actions[MessagePane]);
    tools->addSeparator();
    tools->addAction(m_actions[About]);
    tools->addSeparator();
    tools->addAction(m_actions[TraceRoute]);
    tools->addSeparator();
    tools->addAction(m_actions[Properties]);
    // Tool tips name the command without its mnemonic.
    for (QAction* a : tools->actions())
        if (!a->isSeparator())
            a->setToolTip(a->text().remove(QLatin1Char('&')));

    QAction* toolbarToggle = tools->toggleViewAction();
    toolbarToggle->setText(QStringLiteral("&Toolbar"));
    toolbarToggle->setObjectName(QStringLiteral("actionToolbar"));
    toolbarToggle->setStatusTip(QStringLiteral("Show or hide the toolbar"));
    m_viewMenu->addAction(toolbarToggle);
}

void MainWindow::createStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    const QFontMetrics metrics(bar->font());
    auto makePane = [&](const char* name, int characters) {
        auto* label = new QLabel(bar);
        label->setObjectName(QString::fromLatin1(name));
        label->setMinimumWidth(metrics.averageCharWidth() * characters);
        label->setFrameShape(QFrame::NoFrame);
        bar->addPermanentWidget(label);
        return label;
    };
    m_exportStatus = makePane("exportStatus", 59);
    m_diskStatus = makePane("diskStatus", 44);
    static const char* const kLockNames[] = {"capsLockStatus", "numLockStatus", "scrollLockStatus"};
    static const char* const kLockTexts[] = {"CAP", "NUM", "SCRL"};
    for (std::size_t i = 0; i < m_lockLabels.size(); ++i) {
        auto* label = new QLabel(QString::fromLatin1(kLockTexts[i]), bar);
        label->setObjectName(QString::fromLatin1(kLockNames[i]));
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("SCRL")) + 8);
        bar->addPermanentWidget(label);
        m_lockLabels[i] = label;
    }

    QAction* statusToggle = new QAction(QStringLiteral("&Status Bar"), this);
    statusToggle->setObjectName(QStringLiteral("actionStatusBar"));
    statusToggle->setStatusTip(QStringLiteral("Show or hide the status bar"));
    statusToggle->setCheckable(true);
    statusToggle->setChecked(true);
    connect(statusToggle, &QAction::toggled, bar, &QWidget::setVisible);
    m_viewMenu->addAction(statusToggle);
    m_viewMenu->addAction(m_actions[MessagePane]);
    QMenu* columns = m_viewMenu->addMenu(QStringLiteral("&Columns"));
    columns->setObjectName(QStringLiteral("menuColumns"));
    for (const auto& entry : kColumnMenu)
        columns->addAction(m_columnActions[entry.first]);

    m_lockTimer = new QTimer(this);
    m_lockTimer->setInterval(500);
    connect(m_lockTimer, &QTimer::timeout, this, &MainWindow::updateLockIndicators);
    m_lockTimer->start();
    updateLockIndicators();
}

void MainWindow::updateLockIndicators()
{
    static const KeyboardLeds leds;
    static const KeyboardLeds::Lock kLocks[] = {KeyboardLeds::Caps, KeyboardLeds::Num, KeyboardLeds::Scroll};
    for (std::size_t i = 0; i < m_lockLabels.size(); ++i) {
        const auto on = leds.state(kLocks[i]);
        // Unknown where no keyboard light is visible to us: the pane goes.
        m_lockLabels[i]->setVisible(on.has_value());
        m_lockLabels[i]->setEnabled(on.value_or(false));
    }
}

void MainWindow::restoreLayout()
{
    SettingsStore& store = m_system.store();
    auto bytes = [&](const char* name) {
        return QByteArray::fromBase64(store.readString(kPreferences, QString::fromLatin1(name)).toLatin1());
    };
    if (const QByteArray geometry = bytes("WindowGeometry"); !geometry.isEmpty())
        restoreGeometry(geometry);
    if (const QByteArray state = bytes("WindowState"); !state.isEmpty())
        restoreState(state);
    m_hostList->restoreHeaderState(bytes("HostListHeader"));
    for (auto& [column, a] : m_columnActions)
        a->setChecked(m_hostList->isColumnShown(column));
}

bool MainWindow::saveState(QString* error)
{
    SettingsStore& store = m_system.store();
    m_system.saveHosts();
    SaveColumnPreferences(store, m_hostList->preferences());
    auto write = [&](const char* name, const QByteArray& value) {
        store.writeString(kPreferences, QString::fromLatin1(name), QString::fromLatin1(value.toBase64()));
    };
    write("WindowGeometry", saveGeometry());
    write("WindowState", QMainWindow::saveState());
    write("HostListHeader", m_hostList->saveHeaderState());
    return store.sync(error);
}

void MainWindow::updateActions()
{
    const bool monitoring = m_system.controller().isMonitoring();
    const bool open = !m_closing;
    m_actions[Insert]->setEnabled(open && !monitoring);
    m_actions[Delete]->setEnabled(open && !monitoring);
    m_actions[Properties]->setEnabled(open && !monitoring);
    m_actions[Start]->setEnabled(open && !monitoring && !m_hostWizard);
    m_actions[Stop]->setEnabled(open && monitoring);
    m_actions[MessagePane]->setChecked(m_messagePaneShown);
}

void MainWindow::toggleMessagePane()
{
    m_messagePaneShown = !m_messagePaneShown;
    if (m_messagePaneShown) {
        m_messagePane->show();
        const int total = m_splitter->height();
        m_splitter->setSizes({std::max(10, total - 200), 200});
    } else {
        m_messagePane->hide();
    }
    m_actions[MessagePane]->setChecked(m_messagePaneShown);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event)
{
    showShortcutMenu(event->globalPos());
}

void MainWindow::showShortcutMenu(const QPoint& globalPos)
{
    // The shortcut menu names some commands differently; each entry follows
    // its command's availability and triggers it.
    static const std::pair<Command, const char*> kEntries[] = {
        {Insert, "Insert New Host"}, {Delete, "Delete Host"},       {Properties, "Properties"},
        {ClearStats, "Clear Stats"}, {EnablePolling, "Enable Polling"}, {DisablePolling, "Disable Polling"},
    };
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("shortcutMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (const auto& [command, text] : kEntries) {
        QAction* target = m_actions[command];
        QAction* entry = menu->addAction(target->icon(), QString::fromLatin1(text));
        entry->setEnabled(target->isEnabled());
        connect(entry, &QAction::triggered, target, &QAction::trigger);
    }
    menu->popup(globalPos);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_readyToClose) {
        event->accept();
        Q_EMIT closed();
        return;
    }
    event->ignore();
    if (m_closing) {
        // Asked again while waiting: what is still under way is given up.
        waitForPendingWork();
        m_system.abandonPendingWork();
        return;
    }
    // The window's own close button (a spontaneous close; Exit is not) while
    // monitoring runs hides the window in the tray when that is asked for.
    if (event->spontaneous() && m_system.controller().isMonitoring() && m_tray->isAvailable()
        && LoadDesktopDefaults(m_system.store()).trayOnClose) {
        hide();
        return;
    }
    m_closing = true;
    m_closeClock.start();
    m_system.controller().OnMonitoringStop();
    updateActions();
    if (m_system.controller().liveThreads() == 0) {
        waitForPendingWork();
        return;
    }
    showClosingStatus(QStringLiteral("Stopping monitoring: waiting for %1 host thread(s) to end...")
                          .arg(m_system.controller().liveThreads()));
    m_closeTimer = new QTimer(this);
    m_closeTimer->setSingleShot(true);
    connect(m_closeTimer, &QTimer::timeout, this, &MainWindow::waitForPendingWork);
    m_closeTimer->start(kCloseGraceMs);
}

void MainWindow::showClosingStatus(const QString& text)
{
    if (!m_closingStatus) {
        // A permanent pane: menu help texts do not wipe it out.
        m_closingStatus = new QLabel(statusBar());
        m_closingStatus->setObjectName(QStringLiteral("closingStatus"));
        statusBar()->insertPermanentWidget(0, m_closingStatus, 1);
        setCursor(Qt::BusyCursor);
    }
    m_closingStatus->setText(text);
}

void MainWindow::waitForPendingWork()
{
    if (m_readyToClose || m_system.finishingPendingWork())
        return;
    if (m_closeTimer)
        m_closeTimer->stop();
    const int left = std::max<qint64>(0, MonitorSystem::kExitBoundMs - m_closeClock.elapsed());
    m_system.finishPendingWork(
        left,
        [this](const QStringList& pending) {
            if (!pending.isEmpty())
                showClosingStatus(QStringLiteral("Closing: waiting for %1 notification(s) or upload(s): %2 "
                                                 "(close again to give them up)")
                                      .arg(pending.size())
                                      .arg(pending.join(QStringLiteral("; "))));
        },
        [this](bool, const QStringList& abandoned) {
            for (const QString& line : abandoned)
                std::fprintf(stderr, "quillmere: abandoned at exit: %s\n", qPrintable(line));
            finishClose();
        });
}

void MainWindow::finishClose()
{
    if (m_readyToClose)
        return;
    m_readyToClose = true;
    if (m_closeTimer)
        m_closeTimer->stop();
    unsetCursor();
    if (m_help)
        m_help->close();
    QString error;
    if (!saveState(&error)) {
        // The hosts would be lost: the window stays until the operator has
        // read why.
        std::fprintf(stderr, "quillmere: %s\n", qPrintable(error));
        auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Quillmere"),
                                    QStringLiteral("The hosts and settings could not be saved:\n%1").arg(error),
                                    QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("saveErrorBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        connect(box, &QMessageBox::finished, this, &QWidget::close);
        box->open();
        return;
    }
    // Closed from the event loop: this may run inside the close request.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

} // namespace qm::ui
