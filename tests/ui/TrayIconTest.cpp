// The tray icon: its image and tool tip follow the monitored rows, its menu
// carries the window's Start, Stop and Quit and shows or hides the window.
// Offscreen there is usually no tray: the icon is then built but not shown.

#include "support/HostRows.h"
#include "support/UiFixture.h"
#include "ui/HealthIcons.h"
#include "ui/TrayIcon.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>

namespace qm::test {
namespace {

using TrayIconTest = UiTest;

TEST_F(TrayIconTest, FollowsTheRowsAndDrivesTheWindow)
{
    openSystem();
    MonitorSystem& system = *m_system;
    QMainWindow window;
    window.show();
    QAction start(QStringLiteral("&Start")), stop(QStringLiteral("S&top")),
        quit(QStringLiteral("E&xit"));
    ui::TrayIcon tray(system, window, &start, &stop, &quit);
    QSystemTrayIcon* icon = tray.trayIcon();
    EXPECT_EQ(icon->isVisible(), tray.isAvailable());
    EXPECT_EQ(icon->toolTip(), QStringLiteral("0 up, 0 down"));
    EXPECT_EQ(Pixels(icon->icon()), Pixels(ui::HealthIcons::icon(ui::HealthIcons::kNoResult)));

    // Two monitored rows, one of them down, and one that is not monitored.
    HostListModel& hosts = system.hosts();
    for (const char* host : {"a", "b", "c"}) {
        HostTexts row = MakeRow(QString::fromLatin1(host), QStringLiteral("ECHO"), 7);
        row[ColEnabled] = QStringLiteral("0"); // no worker starts
        hosts.insertHost(hosts.rowCount(), row);
    }
    system.controller().OnMonitoringStart();
    hosts.setItemData(0, 11);
    hosts.setImage(0, 2);
    hosts.setItemData(1, 12);
    hosts.setImage(1, 7);
    hosts.setText(1, ColFloatStat, QStringLiteral("1"));
    hosts.setImage(2, ui::HealthIcons::kRed);
    ASSERT_TRUE(
        PumpEventsUntil([&] { return icon->toolTip() == QStringLiteral("1 up, 1 down"); }, 2s));
    EXPECT_EQ(Pixels(icon->icon()), Pixels(ui::HealthIcons::icon(7)));

    // The menu holds the window's own actions, so it follows their state.
    QList<QAction*> entries;
    for (QAction* a : tray.menu()->actions())
        if (!a->isSeparator())
            entries << a;
    EXPECT_EQ(entries, (QList<QAction*>{tray.showHideAction(), &start, &stop, &quit}));
    EXPECT_EQ(tray.showHideAction()->text(), QStringLiteral("Show/Hide window"));

    tray.showHideAction()->trigger();
    EXPECT_FALSE(window.isVisible());
    tray.showHideAction()->trigger();
    EXPECT_TRUE(window.isVisible());
    window.showMinimized();
    tray.showHideAction()->trigger();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());

    system.controller().OnMonitoringStop();
    ASSERT_TRUE(
        PumpEventsUntil([&] { return icon->toolTip() == QStringLiteral("0 up, 0 down"); }, 2s));
}

} // namespace
} // namespace qm::test
