// The results database on a real PostgreSQL server: two monitors recording
// into it at once, the log queries answering as on SQLite, and an outage of
// the server that loses no row.

#include "support/EventPump.h"
#include "support/PostgresServer.h"
#include "support/RecordingPrompt.h"
#include "support/ServerProcess.h"

#include "store/LogViewQueries.h"
#include "store/ResultsDatabase.h"
#include "store/SettingsStore.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace qm::test {
namespace {

using namespace std::chrono_literals;

class PostgresTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_server = new PostgresServer;
        s_startError = s_server->start();
    }
    static void TearDownTestSuite() { delete s_server; }

    void SetUp() override { ASSERT_EQ(s_startError, ""); }

    // A new database of the server, as a target of ResultsDatabase.
    static DatabaseTarget NewDatabase(const std::string& name)
    {
        EXPECT_EQ(s_server->createDatabase(name), "");
        DatabaseTarget target;
        target.driver = DatabaseTarget::kPostgres;
        target.host = QStringLiteral("127.0.0.1");
        target.port = s_server->port();
        target.name = QString::fromStdString(name);
        target.user = QStringLiteral("postgres");
        return target;
    }

    // The rows of a query, each row's fields joined by '|', through a
    // connection of the test's own.
    static QStringList Rows(const DatabaseTarget& target, const QString& sql)
    {
        QStringList rows;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "check");
            db.setHostName(target.host);
            db.setPort(target.port);
            db.setDatabaseName(target.name);
            db.setUserName(target.user);
            if (db.open()) {
                QSqlQuery q(db);
                q.exec(sql);
                while (q.next()) {
                    QStringList fields;
                    for (int i = 0; i < q.record().count(); ++i)
                        fields << q.value(i).toString();
                    rows << fields.join('|');
                }
            }
        }
        QSqlDatabase::removeDatabase("check");
        return rows;
    }

    static PostgresServer* s_server;
    static std::string s_startError;
};

PostgresServer* PostgresTest::s_server = nullptr;
std::string PostgresTest::s_startError;

TEST_F(PostgresTest, TwoMonitorsRecordEveryPrintedResultOnce)
{
    const DatabaseTarget target = NewDatabase("monitors");
    const QString url = target.displayName();
    QTemporaryDir dir;
    const QString monitor = QStringLiteral(QUILLMERE_MONITOR_BIN);
    // Four loopback hosts each, polled every second.
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int m = 0; m < 2; ++m) {
        const QString settings = dir.filePath(QStringLiteral("m%1.conf").arg(m));
        const QString csv = dir.filePath(QStringLiteral("m%1.csv").arg(m));
        QString hosts = QStringLiteral("Protocol,Host,Port,Freq\r\n");
        for (int h = 1; h <= 4; ++h)
            hosts += QStringLiteral("ECHO,127.0.%1.%2,,1\r\n").arg(m).arg(h);
        WriteFile(csv.toStdString(), hosts.toStdString());
        QProcess import;
        import.start(monitor, {"--settings", settings, "hosts", "import", csv});
        ASSERT_TRUE(import.waitForFinished(30000) && import.exitCode() == 0);
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->start(monitor,
                           {"--settings", settings, "--database-url", url, "--duration", "4"});
    }
    // Every printed result is one row, and every row a printed result.
    QStringList printed;
    for (auto& run : runs) {
        ASSERT_TRUE(run->waitForFinished(60000));
        EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
        for (const QString& line : QString::fromUtf8(run->readAllStandardOutput()).split('\n')) {
            const QStringList f =
                line.split('\t'); // time, OK/FAIL, PROTO//HOST:PORT, time, message
            if (f.size() < 5)
                continue;
            const QString service = f[2];
            const int slashes = service.indexOf("//"), colon = service.lastIndexOf(':');
            printed << QStringList{service.mid(slashes + 2, colon - slashes - 2),
                                   service.left(slashes), service.mid(colon + 1),
                                   f[1] == "FAIL" ? "true" : "false", f[4]}
                           .join('|');
        }
    }
    QStringList recorded =
        Rows(target, "SELECT HOST, PROTOCOL, PORT, FAILURE, MESSAGE FROM HISTORY");
    printed.sort();
    recorded.sort();
    EXPECT_GE(printed.size(), 16);
    EXPECT_EQ(recorded, printed);
    EXPECT_EQ(Rows(target, "SELECT count(*) FROM SERVICES"), QStringList{"8"});

    // The log commands read the same database, here named by the settings;
    // a password on the command line is refused.
    {
        SettingsStore store(dir.filePath("m0.conf"));
        DatabaseTarget stored = target;
        stored.password = "pw";
        SaveDatabaseServer(store, stored);
        EXPECT_EQ(store.readString("ConfigDatabase", "PASSWORD"), "cHc=");
    }
    QProcess log;
    log.start(monitor, {"--settings", dir.filePath("m0.conf"), "log", "hosts"});
    ASSERT_TRUE(log.waitForFinished(30000));
    EXPECT_EQ(QString::fromUtf8(log.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
              (QStringList{"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.1.1",
                           "127.0.1.2", "127.0.1.3", "127.0.1.4"}));
    QString withPassword = url;
    withPassword.replace("postgres@", "postgres:secret@");
    log.start(monitor, {"--database-url", withPassword, "log", "hosts"});
    ASSERT_TRUE(log.waitForFinished(30000));
    EXPECT_EQ(log.exitCode(), 2);
    EXPECT_TRUE(log.readAllStandardError().contains("must not hold a password"));
}

TEST_F(PostgresTest, LogQueriesAnswerAsOnSqlite)
{
    QTemporaryDir dir;
    ScriptedPrompt prompt;
    ResultsDatabase sqlite(prompt), server(prompt);
    ASSERT_TRUE(sqlite.openFile(dir.filePath("results.mdb")));
    ASSERT_TRUE(server.openServer(NewDatabase("queries")));
    const QString longHost = QString(120, 'h') + ".example";
    const QStringList results[] = {
        {"alpha.example", "HTTP", "80", "60", "100", "HTTP/1.1 200 OK", "0"},
        {"alpha.example", "HTTP", "80", "60", "300", "", "0"},
        {"alpha.example", "HTTP", "80", "60", "2147483647", "Connection refused", "1"},
        {"Beta.example", "ECHO", "0", "5", "7", "Reply", "0"},
        {"beta.example", "ECHO", "0", "5", "-1", "odd", "true"},
        {"o'hara.example", "SMTP", "25", "", "12", "220 ready \u00fc\U0001F600", "0"},
        {"", "ECHO", "0", "5", "1", "no host", "0"},
        {longHost, "WHOIS++", "63", "70000", "4", QString(300, 'm'), "0"},
        {"ping.example", "PING", "", "10", "5", "Reply", "0"},
    };
    for (ResultsDatabase* db : {&sqlite, &server}) {
        for (const QStringList& r : results)
            ASSERT_TRUE(db->RecordResults(r[0], r[1], r[2], r[3], r[4], r[5], r[6]));
        // More rows than the log viewer reads in one page.
        for (int i = 0; i < 4500; ++i)
            db->RecordResults("bulk.example", "TIME", "37", "1", QString::number(i), "", "0");
        ASSERT_TRUE(db->flush());
    }
    LogViewQueries onSqlite(sqlite.GetDatabase(), prompt), onServer(server.GetDatabase(), prompt);
    EXPECT_EQ(onServer.hosts(), onSqlite.hosts());
    EXPECT_EQ(onServer.hosts().size(), 7);

    const QStringList services[] = {
        {"alpha.example", "HTTP", "80"},          {"beta.example", "ECHO", "0"},
        {"o'hara.example", "SMTP", "25"},         {longHost.left(96), "WHOIS++", "63"},
        {"alpha.example", "HTTP", "81"},          {"alpha.example", "HTTP", "x"},
        {"alpha.example", "HTTP", "99999999999"}, {"bulk.example", "TIME", "37"},
    };
    for (const QStringList& s : services) {
        const auto a = onSqlite.serviceLog(s[0], s[1], s[2]),
                   b = onServer.serviceLog(s[0], s[1], s[2]);
        SCOPED_TRACE(s.join(' ').toStdString());
        EXPECT_EQ(b.polls, a.polls);
        EXPECT_EQ(b.averageText(), a.averageText());
        ASSERT_EQ(b.rows.size(), a.rows.size());
        for (std::size_t i = 0; i < a.rows.size(); ++i) {
            const auto &x = a.rows[i], &y = b.rows[i];
            EXPECT_EQ(std::tie(y.message, y.response, y.failure, y.image, y.selected),
                      std::tie(x.message, x.response, x.failure, x.image, x.selected));
            EXPECT_EQ(y.stamp.size(), x.stamp.size()) << y.stamp.toStdString();
            EXPECT_NE(y.dateStamp, y.stamp); // read as a time
        }
    }
    EXPECT_EQ(onServer.serviceLog("alpha.example", "HTTP", "80").polls, 3);
    EXPECT_EQ(onServer.serviceLog("bulk.example", "TIME", "37").polls, 4500);

    // Retention and clearing remove the same rows and tell the same counts.
    for (ResultsDatabase* db : {&sqlite, &server}) {
        QSqlQuery(db->GetDatabase())
            .exec("UPDATE HISTORY SET DATESTAMP = '2001-02-03 04:05:06.789' WHERE PORT = 0");
        ASSERT_TRUE(db->startPrune(30));
        while (db->pruneSlice()) {
        }
        EXPECT_EQ(db->prunedRows(), 3);
        // A service without a port outlives the removal of other services.
        EXPECT_EQ(LogViewQueries(db->GetDatabase(), prompt).hosts(),
                  (QStringList{"alpha.example", "bulk.example", longHost.left(96),
                               "o'hara.example", "ping.example"}));
        EXPECT_EQ(db->ClearHistory(), 4506);
    }
    const auto messages = prompt.texts();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "4506 Records Deleted"), 2)
        << ::testing::PrintToString(messages);
    EXPECT_EQ(messages.size(), 2u);
}

TEST_F(PostgresTest, AnOutageLosesNoRowAndIsToldOnce)
{
    const DatabaseTarget target = NewDatabase("outage");
    ScriptedPrompt prompt;
    ResultsDatabase db(prompt);
    ASSERT_TRUE(db.openServer(target, true));
    db.setBufferLimit(300);
    int next = 0;
    auto record = [&](int rows) {
        for (int end = next + rows; next < end; ++next)
            db.RecordResults("outage.example", "TIME", "37", "1", "3", QString::number(next), "0");
    };
    auto told = [&](OperatorPrompt::Icon icon) {
        const auto all = prompt.messages();
        return std::count_if(all.begin(), all.end(), [&](const auto& m) { return m.icon == icon; });
    };
    record(100);
    ASSERT_TRUE(db.flush());
    ASSERT_TRUE(s_server->stop());
    // Results keep coming while the server is away, 50 beyond the bound.
    record(100);
    ASSERT_TRUE(PumpEventsUntil([&] { return told(OperatorPrompt::Icon::Stop) > 0; }, 10s));
    record(250);
    EXPECT_TRUE(db.recording());
    EXPECT_EQ(db.bufferedRows(), 300);
    EXPECT_EQ(db.droppedRows(), 50);
    ASSERT_EQ(s_server->start(), "");
    ASSERT_TRUE(PumpEventsUntil([&] { return db.isOpen(); }, 20s))
        << ::testing::PrintToString(prompt.texts());
    record(50);
    ASSERT_TRUE(PumpEventsUntil([&] { return db.bufferedRows() == 0; }, 20s));

    // All but the 50 beyond the bound (400 to 449), each once.
    EXPECT_EQ(Rows(target, "SELECT count(*), count(DISTINCT MESSAGE), min(MESSAGE::int), "
                           "max(MESSAGE::int) FROM HISTORY"),
              QStringList{"450|450|0|499"});
    EXPECT_EQ(Rows(target, "SELECT count(*) FROM HISTORY WHERE MESSAGE::int BETWEEN 400 AND 449"),
              QStringList{"0"});
    EXPECT_EQ(told(OperatorPrompt::Icon::Stop), 1);
    ASSERT_EQ(told(OperatorPrompt::Icon::Information), 1)
        << ::testing::PrintToString(prompt.texts());
    EXPECT_NE(prompt.texts().back().find("50 results were lost"), std::string::npos)
        << prompt.texts().back();

    // A server restarted while idle takes the last results at exit.
    ASSERT_TRUE(s_server->stop());
    ASSERT_EQ(s_server->start(), "");
    record(5);
    db.close();
    EXPECT_EQ(Rows(target, "SELECT count(*) FROM HISTORY"), QStringList{"455"});
    EXPECT_EQ(prompt.texts().size(), 2u) << ::testing::PrintToString(prompt.texts());
    EXPECT_EQ(db.writeErrors(), 50u);
}

TEST_F(PostgresTest, RefusedRowsAreLeftOutAndToldOnce)
{
    const DatabaseTarget target = NewDatabase("refused");
    ScriptedPrompt prompt;
    ResultsDatabase db(prompt);
    ASSERT_TRUE(db.openServer(target));
    // A rule of the server that refuses some rows; a 0 byte is no such row.
    Rows(target, "ALTER TABLE HISTORY ADD CONSTRAINT NO_REFUSED CHECK (MESSAGE <> 'refused')");
    for (int i = 0; i < 20; ++i) {
        const QString message = i == 5    ? QString::fromUtf8("zero\0byte", 9)
                                : i % 7 == 3 ? QStringLiteral("refused")
                                             : QString::number(i);
        db.RecordResults("refused.example", "ECHO", "7", "1", "3", message, "0");
    }
    ASSERT_TRUE(PumpEventsUntil([&] { return db.bufferedRows() == 0; }, 15s))
        << ::testing::PrintToString(prompt.texts());
    EXPECT_TRUE(db.isOpen());
    EXPECT_EQ(db.writeErrors(), 3u);
    EXPECT_EQ(Rows(target, "SELECT count(*), count(*) FILTER (WHERE MESSAGE LIKE 'zero%byte') "
                           "FROM HISTORY"),
              QStringList{"17|1"});
    const auto texts = prompt.texts();
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [](const std::string& t) { return t.find("no_refused") != t.npos; }),
              1)
        << ::testing::PrintToString(texts);
    EXPECT_EQ(prompt.messages().size(), 2u) << ::testing::PrintToString(texts);
}

TEST_F(PostgresTest, AMonitorStartsWhileAnotherWrites)
{
    const DatabaseTarget target = NewDatabase("starting");
    ScriptedPrompt prompt;
    {
        ResultsDatabase first(prompt);
        ASSERT_TRUE(first.openServer(target));
        first.RecordResults("first.example", "ECHO", "7", "1", "3", "one", "0");
        ASSERT_TRUE(first.flush());
    }
    // Another monitor's batch under way: its services added, its rows next,
    // once the starting monitor waits on a lock or has opened.
    std::atomic<bool> opened{false};
    QString batchError;
    std::thread batch([&] {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "batch");
            db.setHostName(target.host);
            db.setPort(target.port);
            db.setDatabaseName(target.name);
            db.setUserName(target.user);
            QSqlQuery q(db);
            bool ok = db.open() && q.exec("BEGIN") &&
                      q.exec("INSERT INTO SERVICES VALUES ('other.example', 'ECHO', 7) "
                             "ON CONFLICT DO NOTHING");
            const auto deadline = std::chrono::steady_clock::now() + 10s;
            while (ok && !opened && std::chrono::steady_clock::now() < deadline) {
                ok = q.exec("SELECT count(*) FROM pg_locks WHERE NOT granted") && q.next();
                if (ok && q.value(0).toInt() > 0)
                    break;
                QThread::msleep(20); // poll interval
            }
            ok = ok &&
                 q.exec("INSERT INTO HISTORY (HOST, PROTOCOL, PORT, MESSAGE) "
                        "VALUES ('other.example', 'ECHO', 7, 'two')") &&
                 q.exec("COMMIT");
            if (!ok)
                batchError = q.lastError().text() + db.lastError().text();
        }
        QSqlDatabase::removeDatabase("batch");
    });
    ResultsDatabase second(prompt);
    const bool open = second.openServer(target);
    opened = true;
    batch.join();
    ASSERT_TRUE(open) << ::testing::PrintToString(prompt.texts());
    EXPECT_EQ(batchError, "");
    second.RecordResults("second.example", "ECHO", "7", "1", "3", "three", "0");
    ASSERT_TRUE(second.flush());
    EXPECT_EQ(Rows(target, "SELECT string_agg(MESSAGE, ',' ORDER BY MESSAGE) FROM HISTORY"),
              QStringList{"one,three,two"});
    EXPECT_EQ(Rows(target, "SELECT count(*) FROM SERVICES"), QStringList{"3"});
    EXPECT_EQ(prompt.texts().size(), 0u) << ::testing::PrintToString(prompt.texts());
}

} // namespace
} // namespace qm::test
