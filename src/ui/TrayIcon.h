#pragma once

#include <QObject>
#include <QString>

class QAction;
class QMainWindow;
class QMenu;
class QSystemTrayIcon;

namespace qm {
class MonitorSystem;
class TrayState;
struct TraySummary;
} // namespace qm

namespace qm::ui {

// The tray icon of the desktop program, shown only where the desktop has a
// tray: the health image of the worst monitored row, the tool tip
// "N up, M down" (see TrayState for what counts), and a menu with
// Show/Hide window, Start, Stop and Quit. Start, Stop and Quit are the
// window's own actions, so their availability is the window's. Activating the
// icon shows or hides the window.
//
// It is also where desktop notifications go when the desktop's notification
// service cannot show them: the tray's message.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    TrayIcon(MonitorSystem& system, QMainWindow& window, QAction* start, QAction* stop,
             QAction* quit, QObject* parent = nullptr);
    ~TrayIcon() override;

    // Whether the desktop has a tray, so that the icon is shown.
    bool isAvailable() const;
    // A message from the icon; nothing where there is no tray.
    void showMessage(const QString& title, const QString& text);

    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QMenu* menu() const { return m_menu; }
    QAction* showHideAction() const { return m_showHide; }

private:
    void apply(const TraySummary& summary);
    void toggleWindow();

    MonitorSystem& m_system;
    QMainWindow& m_window;
    TrayState* m_state;
    QSystemTrayIcon* m_tray;
    QMenu* m_menu;
    QAction* m_showHide;
};

} // namespace qm::ui
