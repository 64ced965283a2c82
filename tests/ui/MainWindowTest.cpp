#include "store/HostStore.h"
#include "support/HostRows.h"
#include "support/ServerProcess.h"
#include "support/UiFixture.h"
#include "ui/ConfigureSheet.h"
#include "ui/HealthIcons.h"
#include "ui/HostListView.h"
#include "ui/HostWizard.h"
#include "ui/MainWindow.h"
#include "ui/MessagePaneView.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTest>

namespace qm::test {
namespace {

// Clicks Next until Finish shows, then Finish.
void Finish(ui::HostWizard& wizard)
{
    while (!wizard.button(QWizard::FinishButton)->isVisible() && wizard.currentId() >= 0)
        wizard.next();
    wizard.button(QWizard::FinishButton)->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class MainWindowTest : public UiTest
{
protected:
    // Writes the hosts (and preferences) to the settings file, then opens the
    // window over it as the program does at start.
    void open(const std::vector<HostTexts>& hosts, const std::map<QString, int>& preferences = {})
    {
        m_window.reset();
        m_system.reset();
        SaveHosts(*m_store, hosts);
        for (const auto& [name, value] : preferences)
            m_store->writeInt(QStringLiteral("PREFERENCES"), name, value);
        ASSERT_TRUE(m_store->sync());
        reopen();
    }

    void reopen()
    {
        m_window.reset();
        openSystem();
        m_window = std::make_unique<ui::MainWindow>(*m_system, m_prompt);
        m_window->resize(1000, 600);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        // Window shortcuts (Insert, Delete) need the window active.
        QApplication::setActiveWindow(m_window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    }

    std::vector<HostTexts> hosts(int count, int port = 80)
    {
        std::vector<HostTexts> rows;
        for (int i = 0; i < count; ++i)
            rows.push_back(MakeRow(QStringLiteral("host%1.test").arg(i), QStringLiteral("HTTP"), port));
        return rows;
    }

    QStringList hostColumn() const
    {
        QStringList out;
        for (int r = 0; r < m_system->hosts().rowCount(); ++r)
            out << m_system->hosts().text(r, ColHost);
        return out;
    }
    // The texts of one row's columns.
    QStringList texts(int row, std::initializer_list<HostColumn> columns) const
    {
        QStringList out;
        for (HostColumn c : columns)
            out << m_system->hosts().text(row, c);
        return out;
    }

    void select(const std::vector<int>& rows)
    {
        auto* view = m_window->hostList();
        view->clearSelection();
        for (int row : rows)
            view->selectionModel()->select(view->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    // Answers the window's Yes/No question.
    void answer(QMessageBox::StandardButton button)
    {
        QMessageBox* box = nullptr;
        ASSERT_TRUE(PumpEventsUntil([&] { return (box = m_window->findChild<QMessageBox*>("confirmBox")) != nullptr; }, 5s));
        box->button(button)->click();
        PumpEventsUntil([&] { return m_window->findChild<QMessageBox*>("confirmBox") == nullptr; }, 5s);
    }

    std::unique_ptr<ui::MainWindow> m_window;
};

TEST_F(MainWindowTest, CommandsFollowMonitoringAndKeysObeyThem)
{
    open(hosts(3, FreeLoopbackPort())); // nothing listens: probes fail at once
    using W = ui::MainWindow;
    auto enabled = [&](W::Command c) { return m_window->action(c)->isEnabled(); };

    EXPECT_TRUE(enabled(W::Insert) && enabled(W::Delete) && enabled(W::Properties) && enabled(W::Start));
    EXPECT_FALSE(enabled(W::Stop));

    m_window->action(W::Start)->trigger();
    ASSERT_TRUE(m_system->controller().isMonitoring());
    EXPECT_FALSE(enabled(W::Insert) || enabled(W::Delete) || enabled(W::Properties) || enabled(W::Start));
    EXPECT_TRUE(enabled(W::Stop) && enabled(W::ClearStats) && enabled(W::TraceRoute) && enabled(W::ViewLogs));

    // The Insert and Delete keys do nothing while monitoring runs.
    select({1});
    m_window->hostList()->setFocus();
    QTest::keyClick(m_window->hostList(), Qt::Key_Delete);
    QTest::keyClick(m_window->hostList(), Qt::Key_Insert);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_system->hosts().rowCount(), 3);
    EXPECT_EQ(m_window->findChild<ui::HostWizard*>(), nullptr);

    m_window->action(W::Stop)->trigger();
    EXPECT_FALSE(m_system->controller().isMonitoring());
    EXPECT_TRUE(enabled(W::Insert) && enabled(W::Delete) && enabled(W::Start));
    EXPECT_FALSE(enabled(W::Stop));
    ASSERT_TRUE(PumpEventsUntil([&] { return m_system->controller().liveThreads() == 0; }, 30s));

    // Stopped, the same key deletes (failing rows have floated meanwhile).
    select({1});
    QStringList expected = hostColumn();
    expected.removeAt(1);
    QTest::keyClick(m_window->hostList(), Qt::Key_Delete);
    QCoreApplication::processEvents();
    EXPECT_EQ(hostColumn(), expected);
}

// Delete, Clear Statistics and polling on/off act on the selected rows;
// closing saves the rows and the columns for the next start.
TEST_F(MainWindowTest, RowCommandsActOnTheSelectionAndCloseSavesThem)
{
    open(hosts(10));
    select({2, 5, 7});
    m_window->action(ui::MainWindow::Delete)->trigger();
    const QStringList kept{"host0.test", "host1.test", "host3.test", "host4.test", "host6.test", "host8.test",
                           "host9.test"};
    EXPECT_EQ(hostColumn(), kept);

    // Which columns each command changes is the row commands' own suite's.
    HostListModel& model = m_system->hosts();
    for (int row : {1, 2})
        model.setText(row, ColPolls, QStringLiteral("9"));
    model.setImage(1, 11);
    select({1});
    m_window->action(ui::MainWindow::ClearStats)->trigger();
    EXPECT_EQ(texts(1, {ColPolls, ColPercFailure}), (QStringList{"0", "0%"}));
    EXPECT_EQ(model.text(2, ColPolls), "9");
    EXPECT_EQ(model.image(1), 12);

    m_window->action(ui::MainWindow::DisablePolling)->trigger();
    EXPECT_EQ(model.text(1, ColEnabled), "0");
    m_window->action(ui::MainWindow::EnablePolling)->trigger();
    EXPECT_EQ(model.text(1, ColEnabled), "1");

    m_window->columnAction(ColPolls)->trigger();
    m_window->hostList()->setColumnWidth(ColProtocol, 90);
    m_window->close();
    ASSERT_TRUE(PumpEventsUntil([&] { return !m_window->isVisible(); }, 20s));
    SettingsStore saved(settingsFile());
    EXPECT_EQ(saved.readInt(QStringLiteral("HOSTS"), QStringLiteral("Count"), -1), 7);
    EXPECT_EQ(saved.readInt(QStringLiteral("PREFERENCES"), QStringLiteral("ViewColPolls"), -1), 0);
    EXPECT_EQ(saved.readInt(QStringLiteral("PREFERENCES"), QStringLiteral("ViewColPort"), -1), 1);

    reopen();
    EXPECT_EQ(hostColumn(), kept);
    EXPECT_EQ(m_window->hostList()->columnWidth(ColPolls), 0);
    EXPECT_FALSE(m_window->columnAction(ColPolls)->isChecked());
    EXPECT_EQ(m_window->hostList()->columnWidth(ColProtocol), 90);
}

TEST_F(MainWindowTest, InsertAddsTheWizardsHostOnTopAndCancelChangesNothing)
{
    open(hosts(2));
    HostListModel& model = m_system->hosts();
    auto openWizard = [&](ui::MainWindow::Command command) {
        m_window->action(command)->trigger();
        return m_window->findChild<ui::HostWizard*>();
    };
    ui::HostWizard* wizard = openWizard(ui::MainWindow::Insert);
    ASSERT_NE(wizard, nullptr);
    wizard->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(hostColumn(), (QStringList{"host0.test", "host1.test"}));

    wizard = openWizard(ui::MainWindow::Insert);
    ASSERT_NE(wizard, nullptr);
    wizard->next(); // to the general page
    LeaveHostBox(*wizard, QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(PumpEventsUntil([&] { return !Find<QLineEdit>(*wizard, "addressEdit")->text().isEmpty(); }, 10s));
    Finish(*wizard);
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(texts(0, {ColHost, ColThreadStatus}), (QStringList{"127.0.0.1", "Stopped..."}));
    EXPECT_EQ(model.image(0), 12);

    // Properties with no row selected does nothing.
    m_window->hostList()->clearSelection();
    EXPECT_EQ(openWizard(ui::MainWindow::Properties), nullptr);

    // Properties rewrites the selected row with fresh statistics; monitoring
    // cannot start while the wizard is open.
    model.setText(2, ColPolls, QStringLiteral("9"));
    model.setImage(2, 3);
    select({2});
    wizard = openWizard(ui::MainWindow::Properties);
    ASSERT_NE(wizard, nullptr);
    EXPECT_FALSE(m_window->action(ui::MainWindow::Start)->isEnabled());
    Finish(*wizard);
    EXPECT_EQ(texts(2, {ColHost, ColPolls}), (QStringList{"host1.test", "0"}));
    EXPECT_EQ(model.image(2), 12);
    EXPECT_TRUE(m_window->action(ui::MainWindow::Start)->isEnabled());
}

TEST_F(MainWindowTest, ColumnPreferencesAndTheMessageColumn)
{
    open(hosts(2), {{QStringLiteral("ViewColNickname"), 0}, {QStringLiteral("ViewColMessage"), 0}});
    auto* view = m_window->hostList();
    QAction* nickname = m_window->columnAction(ColNickname);
    EXPECT_EQ(view->columnWidth(ColNickname), 0);
    EXPECT_FALSE(nickname->isChecked());
    nickname->trigger();
    EXPECT_EQ(view->columnWidth(ColNickname), 70);

    // Hidden, "Message" stays at 0 whatever the window's size.
    for (int width : {700, 1300, 900}) {
        m_window->resize(width, 500);
        PumpEventsUntil([&] { return view->width() > 0 && m_window->width() == width; }, 2s);
        EXPECT_EQ(view->columnWidth(ColMessage), 0) << width;
    }
    // Shown, it takes exactly the width the other columns leave.
    m_window->columnAction(ColMessage)->trigger();
    for (int width : {1300, 1000}) {
        m_window->resize(width, 500);
        PumpEventsUntil([&] { return m_window->width() == width; }, 2s);
        int others = 0;
        for (int c = 0; c <= ColPassword; ++c)
            if (c != ColMessage)
                others += view->columnWidth(c);
        EXPECT_EQ(view->columnWidth(ColMessage), view->viewport()->width() - others) << width;
    }
    // Hidden bookkeeping columns stay hidden.
    EXPECT_EQ(view->columnWidth(ColAddress), 0);
    EXPECT_EQ(view->columnWidth(ColNotifyPagerSequence), 0);
}

// The sort modes themselves are the sorter's (its own suite covers them): a
// header click here sorts exactly once, only on a sortable column.
TEST_F(MainWindowTest, HeaderClickSortsOnceAndFloatingStillWorks)
{
    std::vector<HostTexts> rows;
    for (int i = 0; i < 8; ++i)
        rows.push_back(MakeRow(QStringLiteral("h%1").arg((i * 5) % 8), QStringLiteral("HTTP"), 80));
    open(rows);
    QHeaderView* header = m_window->hostList()->header();
    auto click = [&](int column) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };
    QStringList ascending = hostColumn();
    ascending.sort(Qt::CaseInsensitive);
    click(ColHost);
    EXPECT_EQ(hostColumn(), ascending);
    click(ColHost);
    EXPECT_EQ(hostColumn(), QStringList(ascending.rbegin(), ascending.rend()));
    const QStringList before = hostColumn();
    click(ColPort);
    EXPECT_EQ(hostColumn(), before);

    // A failing row still floats to the top after a sort.
    HostListModel& model = m_system->hosts();
    const int last = model.rowCount() - 1;
    const QString name = model.text(last, ColHost);
    model.setItemData(last, 777);
    model.setText(last, ColFloatErrs, QStringLiteral("1"));
    m_system->controller().OnPollFailure(777, MakeResult("down"));
    EXPECT_EQ(model.text(0, ColHost), name);
}

TEST_F(MainWindowTest, CheckedHostsResultsReachTheMessagePaneUntilTheLogsAreCleared)
{
    open(hosts(2));
    HostListModel& model = m_system->hosts();
    model.setItemData(0, 101);
    model.setItemData(1, 202);
    model.setChecked(0, true);
    MonitorController& controller = m_system->controller();
    controller.OnPollSuccess(101, MakeResult("HTTP/1.1 200 OK [test]", 42));
    controller.OnPollSuccess(202, MakeResult("unchecked", 5));
    controller.OnPollFailure(101, MakeResult("Connection refused"));

    QAbstractItemModel* pane = m_window->messagePane()->model();
    QStringList shown;
    for (int row = 0; row < pane->rowCount(); ++row)
        shown << pane->index(row, 0).data().toString() << pane->index(row, 1).data().toString();
    ASSERT_EQ(shown, (QStringList{"HTTP//host0.test:80 Connection refused", "Error",
                                  "HTTP//host0.test:80 HTTP/1.1 200 OK [test]", "42"}));
    const auto icon = [&](int row) { return pane->index(row, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(); };
    EXPECT_EQ(icon(0), ui::HealthIcons::icon(ui::HealthIcons::kRed).cacheKey());
    EXPECT_EQ(icon(1), ui::HealthIcons::icon(ui::HealthIcons::kGreen).cacheKey());

    // The pane starts hidden; View > Message Pane shows it and checks the item.
    EXPECT_FALSE(m_window->messagePane()->isVisible());
    m_window->action(ui::MainWindow::MessagePane)->trigger();
    EXPECT_TRUE(m_window->messagePane()->isVisible());
    EXPECT_TRUE(m_window->action(ui::MainWindow::MessagePane)->isChecked());
    auto* paneView = m_window->messagePane();
    EXPECT_EQ(paneView->columnWidth(0), paneView->viewport()->width() - 140);
    EXPECT_EQ(paneView->columnWidth(1), 70);

    // Clear Logs asks first, then empties the database (the three results)
    // and the pane.
    auto recorded = [&] {
        QSqlQuery q(m_system->database().GetDatabase());
        q.exec(QStringLiteral("SELECT COUNT(*) FROM HISTORY"));
        return q.next() ? q.value(0).toInt() : -1;
    };
    m_window->action(ui::MainWindow::ClearLogs)->trigger();
    answer(QMessageBox::No);
    EXPECT_EQ(recorded(), 3);
    EXPECT_EQ(m_system->pane().rowCount(), 2);
    m_window->action(ui::MainWindow::ClearLogs)->trigger();
    answer(QMessageBox::Yes);
    EXPECT_EQ(recorded(), 0);
    EXPECT_EQ(m_system->pane().rowCount(), 0);
    EXPECT_EQ(m_prompt.texts(), std::vector<std::string>{"3 Records Deleted"});

    // Retention set on the configuration sheet applies to the open database at once.
    m_window->action(ui::MainWindow::Configure)->trigger();
    auto* sheet = m_window->findChild<ui::ConfigureSheet*>();
    ASSERT_NE(sheet, nullptr);
    Find<QTabWidget>(*sheet, "configTabs")->setCurrentWidget(Find<QWidget>(*sheet, "configPageDatabase"));
    Find<QLineEdit>(*sheet, "databaseKeepDaysEdit")->setText(QStringLiteral("30"));
    Find<QPushButton>(*sheet, "okButton")->click();
    EXPECT_EQ(m_system->database().keepDays(), 30);
}

} // namespace
} // namespace qm::test
