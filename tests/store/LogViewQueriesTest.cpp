// The log viewer's queries over a seeded results table.

#include "StoreTestSupport.h"

#include "store/LogViewCursor.h"
#include "store/LogViewQueries.h"
#include "store/ResultsDatabase.h"
#include "support/EventPump.h"
#include "support/TimeZoneScope.h"

#include <QSqlQuery>
#include <QVariant>

#include <clocale>

namespace qm::test {
namespace {

// Each row as "message|response|failure|image|selected".
std::vector<std::string> Rows(const LogViewQueries::ServiceLog& log)
{
    std::vector<std::string> out;
    for (const auto& r : log.rows)
        out.push_back(QStringList{r.message, r.response, r.failure, QString::number(r.image),
                                  r.selected ? "selected" : ""}
                          .join('|')
                          .toStdString());
    return out;
}

class LogViewQueriesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_db.openFile(m_cwd.path() + "/log.mdb")) << Shown(m_prompt);
    }
    void record(const QString& host, const QString& protocol, const QString& port,
                const QString& time, const QString& message, const QString& failure)
    {
        ASSERT_TRUE(m_db.RecordResults(host, protocol, port, "60", time, message, failure))
            << Shown(m_prompt);
    }

    ScopedCurrentDir m_cwd;
    ScriptedPrompt m_prompt;
    ResultsDatabase m_db{m_prompt};
};

TEST_F(LogViewQueriesTest, OneServiceInTimeOrderWithPollsAndAverage)
{
    LogViewQueries queries(m_db.GetDatabase(), m_prompt);
    EXPECT_TRUE(queries.hosts().isEmpty());
    EXPECT_TRUE(queries.serviceLog("web", "HTTP", "80").empty());

    record("web", "HTTP", "80", "100", "200 OK [nginx]", "0");
    record("web", "FTP", "21", "7", "other protocol", "0");
    record("web", "HTTP", "8080", "9", "other port", "0");
    record("mail", "HTTP", "80", "11", "other host", "0");
    record("web", "HTTP", "80", "300", "200 OK [nginx]", "0");
    record("", "", "", "", "no row matched", "1");
    record("web", "HTTP", "80", "2147483647", "Connection refused", "1");
    EXPECT_EQ(queries.hosts(), QStringList({"mail", "web"}));

    const LogViewQueries::ServiceLog log = queries.serviceLog("web", "HTTP", "80");
    EXPECT_EQ(Rows(log), std::vector<std::string>({"200 OK [nginx]|100 msec||0|selected",
                                                   "200 OK [nginx]|300 msec||0|",
                                                   "Connection refused|error|error|1|selected"}));
    ASSERT_FALSE(log.rows.empty());
    EXPECT_FALSE(log.rows[0].dateStamp.isEmpty());
    EXPECT_EQ(log.pollsText(), "3");
    EXPECT_EQ(log.averageText(), "200.00 msec");

    // Negative times are shown but not averaged.
    record("web", "TIME", "37", "-5", "clock skew", "0");
    record("web", "TIME", "37", "2147483647", "timed out", "1");
    const auto skewed = queries.serviceLog("web", "TIME", "37");
    EXPECT_EQ(Rows(skewed), std::vector<std::string>(
                                {"clock skew|-5 msec||0|selected", "timed out|error|error|1|"}));
    EXPECT_EQ(skewed.pollsText(), "2");
    EXPECT_EQ(skewed.averageText(), "0.00 msec");
    EXPECT_TRUE(m_prompt.texts().empty()) << Shown(m_prompt);
}

TEST_F(LogViewQueriesTest, HostAndPortTextsCannotBreakTheStatement)
{
    record("o'brien.example", "HTTP", "80", "42", "quoted host", "0");
    record("web", "HTTP", "80", "5", "plain", "0");
    LogViewQueries queries(m_db.GetDatabase(), m_prompt);

    EXPECT_EQ(queries.hosts(), QStringList({"o'brien.example", "web"}));
    const auto quoted = queries.serviceLog("o'brien.example", "HTTP", "80");
    ASSERT_EQ(quoted.rows.size(), 1u);
    EXPECT_EQ(quoted.rows[0].message, "quoted host");

    EXPECT_TRUE(queries.serviceLog("x' OR '1'='1", "HTTP", "80").empty());
    EXPECT_TRUE(queries.serviceLog("web", "HTTP", "80 OR 1=1").empty());
    EXPECT_TRUE(queries.serviceLog("web", "HTTP", "").empty());
    EXPECT_TRUE(queries.serviceLog("web", "HTTP", "eighty").empty());
    EXPECT_EQ(queries.serviceLog("web", "HTTP", " 80 ").rows.size(), 1u);
    EXPECT_TRUE(m_prompt.texts().empty()) << Shown(m_prompt);
}

TEST_F(LogViewQueriesTest, RowsRecordedAfterTheClockWasSetBackComeInTimeOrder)
{
    record("h", "HTTP", "80", "1", "first", "0");
    record("h", "HTTP", "80", "2", "second", "0");
    record("h", "HTTP", "80", "3", "third, clock set back", "0");
    QSqlQuery(m_db.GetDatabase())
        .exec("UPDATE HISTORY SET DATESTAMP = '2001-01-01 00:00:00.000' WHERE TIME = 3");

    const auto log = LogViewQueries(m_db.GetDatabase(), m_prompt).serviceLog("h", "HTTP", "80");
    EXPECT_EQ(Rows(log),
              std::vector<std::string>({"third, clock set back|3 msec||0|selected",
                                        "first|1 msec||0|", "second|2 msec||0|selected"}));
}

// The viewer reads on the connection that records results; a result recorded
// between two steps of a read must reach the file at once, not when the read
// ends.
TEST_F(LogViewQueriesTest, ResultsRecordedDuringAReadAreCommittedByTheBatchTimer)
{
    for (const char* time : {"1", "2", "3"})
        record("h", "HTTP", "80", time, "before", "0");
    LogViewCursor cursor(m_db.GetDatabase(), m_prompt);
    cursor.startService("h", "HTTP", "80");
    ASSERT_TRUE(cursor.step(std::chrono::milliseconds(0)));
    EXPECT_EQ(cursor.takeRows().size(), 1u);

    record("h", "HTTP", "80", "4", "during the read", "0");
    // What another reader of a copy of the file finds committed.
    auto committed = [&] {
        QTemporaryDir copy;
        const QString file = m_db.fileName();
        if (!QFile::copy(file, copy.filePath("copy.mdb")) ||
            (QFile::exists(file + "-wal") &&
             !QFile::copy(file + "-wal", copy.filePath("copy.mdb-wal"))))
            return -1;
        int rows = -1;
        {
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "copy");
            other.setDatabaseName(copy.filePath("copy.mdb"));
            QSqlQuery count(other);
            if (other.open() && count.exec("SELECT COUNT(*) FROM HISTORY") && count.next())
                rows = count.value(0).toInt();
        }
        QSqlDatabase::removeDatabase("copy");
        return rows;
    };
    EXPECT_TRUE(PumpEventsUntil([&] { return committed() == 4; }, std::chrono::seconds(10)));

    while (cursor.step(std::chrono::milliseconds(5))) {
    }
    EXPECT_GE(cursor.takeRows().size(), 2u);
    EXPECT_TRUE(m_prompt.texts().empty()) << Shown(m_prompt);
}

TEST_F(LogViewQueriesTest, ClosedDatabaseIsShown)
{
    m_db.close();
    LogViewQueries queries(m_db.GetDatabase(), m_prompt);
    EXPECT_TRUE(queries.hosts().isEmpty());
    ASSERT_EQ(m_prompt.messages().size(), 1u);
    EXPECT_EQ(m_prompt.messages()[0].icon, OperatorPrompt::Icon::Stop);
}

TEST(LogViewDateTest, StampsAreShownInLocalTimeInTheLocaleForm)
{
    std::setlocale(LC_TIME, "C");
    const TimeZoneScope zone("Europe/Berlin");
    EXPECT_EQ(LogViewQueries::LocalDateText("2024-07-01 10:00:00.250"), "Mon Jul  1 12:00:00 2024");
    EXPECT_EQ(LogViewQueries::LocalDateText("2024-01-15 23:30:00.000"), "Tue Jan 16 00:30:00 2024");
    EXPECT_EQ(LogViewQueries::LocalDateText("yesterday"), "yesterday");
}

} // namespace
} // namespace qm::test
