#include "ui/TrayIcon.h"

#include "engine/MonitorSystem.h"
#include "engine/TrayState.h"
#include "ui/HealthIcons.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>

namespace qm::ui {

TrayIcon::TrayIcon(MonitorSystem& system, QMainWindow& window, QAction* start, QAction* stop,
                   QAction* quit, QObject* parent)
    : QObject(parent), m_system(system), m_window(window)
{
    setObjectName(QStringLiteral("trayIcon"));
    m_state = new TrayState(system.hosts(), system.controller(), this);
    m_state->setObjectName(QStringLiteral("trayState"));

    // The menu belongs to the window: a tray menu has no parent widget.
    m_menu = new QMenu(&window);
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    m_showHide = m_menu->addAction(QStringLiteral("Show/Hide window"));
    m_showHide->setObjectName(QStringLiteral("trayShowHideAction"));
    connect(m_showHide, &QAction::triggered, this, &TrayIcon::toggleWindow);
    m_menu->addSeparator();
    m_menu->addActions({start, stop});
    m_menu->addSeparator();
    m_menu->addAction(quit);

    m_tray = new QSystemTrayIcon(this);
    m_tray->setObjectName(QStringLiteral("systemTrayIcon"));
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    toggleWindow();
            });
    connect(m_state, &TrayState::changed, this, &TrayIcon::apply);
    apply(m_state->summary());
    if (isAvailable())
        m_tray->show();

    system.notifications().setDesktopFallback(
        [this](const QString& summary, const QString& body) { showMessage(summary, body); });
}

TrayIcon::~TrayIcon()
{
    m_system.notifications().setDesktopFallback({});
}

bool TrayIcon::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::showMessage(const QString& title, const QString& text)
{
    if (isAvailable() && m_tray->isVisible())
        m_tray->showMessage(title, text, m_tray->icon());
}

void TrayIcon::apply(const TraySummary& summary)
{
    m_tray->setIcon(HealthIcons::icon(summary.worstHealth));
    m_tray->setToolTip(TrayState::ToolTip(summary));
}

void TrayIcon::toggleWindow()
{
    if (m_window.isVisible() && !m_window.isMinimized()) {
        m_window.hide();
        return;
    }
    // Back as it was before (maximised stays maximised), only not minimised.
    m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.show();
    m_window.raise();
    m_window.activateWindow();
}

} // namespace qm::ui
