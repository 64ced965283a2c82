// The "View Logs" dialog over a results database in a temporary folder.

#include "support/UiFixture.h"
#include "ui/HealthIcons.h"
#include "ui/LogViewerDialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSqlQuery>
#include <QTimer>

namespace qm::test {
namespace {

using ui::LogViewerDialog;

class LogViewerDialogTest : public UiTest
{
protected:
    void SetUp() override { openSystem(); }
    ResultsDatabase& db() { return m_system->database(); }

    void record(const QString& host, const QString& protocol, const QString& port,
                const QString& time, const QString& failure)
    {
        ASSERT_TRUE(db().RecordResults(host, protocol, port, "60", time, "msg " + time, failure));
    }

    // Opens the dialog, optionally on a given service, and waits until it has
    // read everything.
    void open(const QStringList& service = {})
    {
        m_dialog = std::make_unique<LogViewerDialog>(db().GetDatabase(), m_prompt);
        if (service.size() == 3)
            m_dialog->presetService(service[0], service[1], service[2]);
        m_dialog->open();
        ASSERT_TRUE(PumpEventsUntil([&] { return !loading(); }, 10s));
    }
    template <typename T> T* find(const char* name) { return Find<T>(*m_dialog, name); }
    bool loading() { return find<QWidget>("loadingIndicator")->isVisible(); }
    QAbstractItemModel* rows() { return find<QAbstractItemView>("resultList")->model(); }
    QStringList column(int c)
    {
        QStringList texts;
        for (int r = 0; r < rows()->rowCount(); ++r)
            texts << rows()->index(r, c).data().toString();
        return texts;
    }
    QImage image(int row) { return Pixels(rows()->index(row, 0).data(Qt::DecorationRole).value<QIcon>()); }
    // The rows the dialog counts as selected.
    QList<int> selected()
    {
        QList<int> out;
        for (int r = 0; r < rows()->rowCount(); ++r)
            if (rows()->index(r, 0).data(LogViewerDialog::kSelectedRole).toBool())
                out << r;
        return out;
    }
    void choose(const char* comboName, const QString& entry)
    {
        auto* combo = find<QComboBox>(comboName);
        combo->setCurrentIndex(combo->findText(entry));
        Q_EMIT combo->activated(combo->currentIndex());
    }

    std::unique_ptr<LogViewerDialog> m_dialog;
};

TEST_F(LogViewerDialogTest, ServiceWithAFailedPollListsEveryPollWithTheSummary)
{
    record("web", "HTTP", "80", "100", "0");
    record("web", "HTTP", "8080", "7", "0");
    record("web", "HTTP", "80", "300", "0");
    record("web", "HTTP", "80", "2147483647", "1");
    open({"web", "HTTP", "80"});

    EXPECT_EQ(m_dialog->windowTitle(), "View Logs");
    ASSERT_EQ(rows()->rowCount(), 3);
    EXPECT_EQ(column(0), (QStringList{"msg 100", "msg 300", "msg 2147483647"}));
    EXPECT_EQ(column(1), (QStringList{"100 msec", "300 msec", "error"}));
    EXPECT_EQ(column(2), (QStringList{"", "", "error"}));
    EXPECT_EQ(find<QLineEdit>("pollsEdit")->text(), "3");
    EXPECT_EQ(find<QLineEdit>("averageEdit")->text(), "200.00 msec");
    EXPECT_EQ(image(2), Pixels(ui::HealthIcons::icon(ui::HealthIcons::kRed)));
    EXPECT_EQ(image(1), Pixels(ui::HealthIcons::icon(ui::HealthIcons::kGreen)));
    EXPECT_EQ(selected(), (QList<int>{0, 2}));

    // The list's own selection commands reach the rows: a click on row 1,
    // then a control-click on row 0.
    auto* selection = find<QAbstractItemView>("resultList")->selectionModel();
    selection->select(rows()->index(1, 0),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(selected(), QList<int>{1});
    selection->select(rows()->index(0, 0), QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
    EXPECT_EQ(selected(), (QList<int>{0, 1}));
    EXPECT_TRUE(m_prompt.messages().empty());
}

TEST_F(LogViewerDialogTest, EmptyTableGivesNoQueryAndAMissingOneAnError)
{
    open({"web", "HTTP", "80"});
    EXPECT_EQ(find<QComboBox>("hostCombo")->count(), 0);
    EXPECT_EQ(rows()->rowCount(), 0);
    // The preset service was neither shown nor queried.
    EXPECT_EQ(find<QLineEdit>("averageEdit")->text(), "");
    EXPECT_EQ(find<QComboBox>("protocolCombo")->currentText(), "DAYTIME");
    EXPECT_TRUE(m_prompt.messages().empty());

    // Without the table the error is shown and the dialog stays open.
    ASSERT_TRUE(QSqlQuery(db().GetDatabase()).exec("DROP TABLE HISTORY"));
    open();
    EXPECT_TRUE(m_dialog->isVisible());
    const auto messages = m_prompt.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, OperatorPrompt::Icon::Stop);
    EXPECT_NE(messages[0].text.find("HISTORY"), std::string::npos) << messages[0].text;
}

TEST_F(LogViewerDialogTest, ChoosingAProtocolSetsItsPortAndQueriesAgain)
{
    record("alpha", "HTTP", "80", "1", "0");
    record("web", "FTP", "21", "2", "0");
    record("web", "HTTP", "80", "3", "0");
    record("web", "HTTP", "80", "5", "0");
    open();
    // Entry 1 of the sorted lists; no port yet, so no rows.
    EXPECT_EQ(find<QComboBox>("hostCombo")->currentText(), "web");
    EXPECT_EQ(find<QComboBox>("protocolCombo")->currentText(), "DAYTIME");
    EXPECT_EQ(rows()->rowCount(), 0);

    choose("protocolCombo", "HTTP");
    EXPECT_EQ(find<QComboBox>("portCombo")->currentText(), "80");
    ASSERT_TRUE(PumpEventsUntil([&] { return !loading(); }, 10s));
    EXPECT_EQ(column(1), (QStringList{"3 msec", "5 msec"}));
    EXPECT_EQ(find<QLineEdit>("averageEdit")->text(), "4.00 msec");

    choose("protocolCombo", "FTP");
    EXPECT_EQ(find<QComboBox>("portCombo")->currentText(), "21");
    ASSERT_TRUE(PumpEventsUntil([&] { return !loading(); }, 10s));
    EXPECT_EQ(column(1), QStringList{"2 msec"});
    EXPECT_EQ(find<QLineEdit>("pollsEdit")->text(), "1");

    // A service without rows keeps the summary of the last one.
    choose("hostCombo", "alpha");
    ASSERT_TRUE(PumpEventsUntil([&] { return !loading(); }, 10s));
    EXPECT_EQ(rows()->rowCount(), 0);
    EXPECT_EQ(find<QLineEdit>("pollsEdit")->text(), "1");
    EXPECT_TRUE(m_prompt.messages().empty());
}

// 200,000 rows of one service load in slices: the event loop keeps turning,
// the operator sees the load, can record results, choose another service or
// close the dialog meanwhile.
TEST_F(LogViewerDialogTest, LargeTableLoadsWithoutBlockingTheEventLoop)
{
    constexpr int kRows = 200000;
    QSqlQuery fill(db().GetDatabase());
    ASSERT_TRUE(fill.exec(
        QStringLiteral(
            "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %1) "
            "INSERT INTO HISTORY (HOST, PROTOCOL, PORT, FREQUENCY, TIME, MESSAGE, FAILURE, "
            "DATESTAMP) "
            "SELECT 'big', 'HTTP', 80, 60, x % 500, '200 OK [server]', 0, "
            "strftime('%Y-%m-%d %H:%M:%f', 1700000000 + x / 10.0, 'unixepoch') FROM n")
            .arg(kRows)));
    record("big", "FTP", "21", "9", "0");

    // The longest event-loop turn, seen by a timer that fires every turn.
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    ticker.start(1);
    const auto resetGap = [&] {
        sinceTick.restart();
        longestGap = 0;
    };

    m_dialog = std::make_unique<LogViewerDialog>(db().GetDatabase(), m_prompt);
    m_dialog->presetService("big", "HTTP", "80");
    m_dialog->open();
    resetGap();
    ASSERT_TRUE(PumpEventsUntil([&] { return rows()->rowCount() > 1000; }, 10s));
    EXPECT_TRUE(loading());
    EXPECT_TRUE(db().RecordResults("big", "HTTP", "80", "60", "5", "during the load", "0"));
    ASSERT_TRUE(PumpEventsUntil([&] { return !loading(); }, 60s));
    EXPECT_LT(longestGap, 100);
    EXPECT_GE(rows()->rowCount(), kRows);
    EXPECT_EQ(find<QLineEdit>("pollsEdit")->text(), QString::number(rows()->rowCount()));
    QSqlQuery recorded(db().GetDatabase());
    ASSERT_TRUE(recorded.exec("SELECT COUNT(*) FROM HISTORY WHERE MESSAGE = 'during the load'"));
    ASSERT_TRUE(recorded.next());
    EXPECT_EQ(recorded.value(0).toInt(), 1);

    // Another choice mid-load drops the load under way.
    resetGap();
    choose("protocolCombo", "HTTP");
    ASSERT_TRUE(PumpEventsUntil([&] { return rows()->rowCount() > 1000; }, 10s));
    choose("protocolCombo", "FTP");
    ASSERT_TRUE(PumpEventsUntil([&] { return !loading(); }, 10s));
    EXPECT_EQ(rows()->rowCount(), 1);
    EXPECT_EQ(find<QLineEdit>("pollsEdit")->text(), "1");

    // Closing mid-load stops it.
    choose("protocolCombo", "HTTP");
    ASSERT_TRUE(PumpEventsUntil([&] { return rows()->rowCount() > 1000; }, 10s));
    m_dialog->reject();
    EXPECT_FALSE(m_dialog->isVisible());
    const int shown = rows()->rowCount();
    int ticks = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ASSERT_TRUE(PumpEventsUntil([&] { return ticks >= 50; }, 10s));
    EXPECT_EQ(rows()->rowCount(), shown);
    EXPECT_LT(rows()->rowCount(), kRows);
    EXPECT_LT(longestGap, 100);
    EXPECT_TRUE(m_prompt.messages().empty());
}

} // namespace
} // namespace qm::test
