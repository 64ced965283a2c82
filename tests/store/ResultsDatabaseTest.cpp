// The results database: creation, upgrade of older files, recording, clearing,
// the services table, retention, what a killed writer leaves, and exclusive
// use of the file.

#include "StoreTestSupport.h"

#include "store/ConfigSections.h"
#include "store/ResultsDatabase.h"
#include "store/SettingsStore.h"
#include "support/EventPump.h"
#include "support/ServerProcess.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <csignal>

namespace qm::test {
namespace {

// Builds a database file the way an older version or another tool left it.
void SeedFile(const QString& path, const QStringList& statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "seed");
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        for (const QString& s : statements) {
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(s)) << s.toStdString() << ": " << q.lastError().text().toStdString();
        }
    }
    QSqlDatabase::removeDatabase("seed");
}

// The first column of every row the statement gives; NULL as "NULL".
QStringList Column(ResultsDatabase& db, const QString& statement)
{
    QStringList out;
    QSqlQuery q(db.GetDatabase());
    EXPECT_TRUE(q.exec(statement)) << q.lastError().text().toStdString();
    while (q.next())
        out << (q.value(0).isNull() ? QStringLiteral("NULL") : q.value(0).toString());
    return out;
}

const QStringList kIndexes{"INDEX", "SERVICE"};
const char* const kIndexQuery =
    "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'HISTORY' ORDER BY name";

class ResultsDatabaseTest : public ::testing::Test
{
protected:
    ScopedCurrentDir m_cwd;
    SettingsStore m_settings{m_cwd.path() + "/settings.ini"};
    ScriptedPrompt m_prompt;
};

TEST_F(ResultsDatabaseTest, TheGivenFileOrElseTheDefaultIsCreatedWithTableAndIndexes)
{
    {
        // A file named on the command line is used instead of the stored one.
        m_settings.writeString("ConfigDatabase", "DATABASE_FILE", m_cwd.path() + "/stored.mdb");
        ResultsDatabase given(m_prompt);
        ASSERT_TRUE(given.open(m_settings, m_cwd.path() + "/given.mdb")) << Shown(m_prompt);
        EXPECT_TRUE(QFile::exists(m_cwd.path() + "/given.mdb"));
        EXPECT_FALSE(QFile::exists(m_cwd.path() + "/stored.mdb"));
        EXPECT_EQ(m_settings.readString("ConfigDatabase", "DATABASE_FILE"),
                  m_cwd.path() + "/stored.mdb");
        m_settings.writeString("ConfigDatabase", "DATABASE_FILE", "");
    }
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.open(m_settings)) << Shown(m_prompt);
    const QString expected = m_cwd.path() + "/Quillmere.mdb";
    EXPECT_TRUE(QFile::exists(expected));
    EXPECT_EQ(m_settings.readString("ConfigDatabase", "DATABASE_FILE"), expected);
    EXPECT_EQ(db.fileName(), expected);

    EXPECT_EQ(
        Column(db, "SELECT name || ' ' || type || ' ' || pk FROM pragma_table_info('HISTORY')"),
        QStringList({"INDEX INTEGER 1", "HOST VARCHAR(96) 0", "PROTOCOL VARCHAR(12) 0",
                     "PORT SMALLINT 0", "FREQUENCY SMALLINT 0", "TIME INTEGER 0",
                     "MESSAGE VARCHAR(255) 0", "FAILURE BOOLEAN 0", "DATESTAMP DATETIME 0"}));
    EXPECT_EQ(Column(db, kIndexQuery), kIndexes);
    EXPECT_EQ(Column(db, "SELECT name FROM pragma_index_info('SERVICE')"),
              QStringList({"HOST", "PROTOCOL", "PORT"}));
    EXPECT_EQ(Column(db, "PRAGMA journal_mode"), QStringList({"wal"}));
    EXPECT_TRUE(m_prompt.texts().empty()) << Shown(m_prompt);
}

TEST_F(ResultsDatabaseTest, OlderFilesGainWhatIsMissingAndKeepTheirData)
{
    // A table from before FREQUENCY existed.
    const QString old = m_cwd.path() + "/old.mdb";
    SeedFile(old, {"CREATE TABLE HISTORY (\"INDEX\" INTEGER PRIMARY KEY AUTOINCREMENT, "
                   "HOST VARCHAR(96), PROTOCOL VARCHAR(12), PORT SMALLINT, TIME INTEGER, "
                   "MESSAGE VARCHAR(255), FAILURE BOOLEAN, DATESTAMP DATETIME)",
                   "INSERT INTO HISTORY (HOST, PROTOCOL, PORT, TIME, MESSAGE, FAILURE, DATESTAMP) "
                   "VALUES ('old', 'FTP', 21, 5, 'kept', 0, '2001-02-03 04:05:06.000')"});
    {
        ResultsDatabase db(m_prompt);
        ASSERT_TRUE(db.openFile(old)) << Shown(m_prompt);
        EXPECT_EQ(Column(db, "SELECT HOST || '/' || MESSAGE FROM HISTORY"),
                  QStringList({"old/kept"}));
        ASSERT_TRUE(db.RecordResults("new", "HTTP", "80", "30", "12", "fine", "0"));
        EXPECT_EQ(Column(db, "SELECT FREQUENCY FROM HISTORY ORDER BY \"INDEX\""),
                  QStringList({"NULL", "30"}));
    }

    // A database of another tool, without HISTORY.
    const QString other = m_cwd.path() + "/other.mdb";
    SeedFile(other,
             {"CREATE TABLE NOTES (TEXT VARCHAR(20))", "INSERT INTO NOTES VALUES ('keep me')"});
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.openFile(other)) << Shown(m_prompt);
    EXPECT_EQ(Column(db, "SELECT TEXT FROM NOTES"), QStringList({"keep me"}));
    EXPECT_EQ(Column(db, "SELECT count(*) FROM pragma_table_info('HISTORY')"), QStringList({"9"}));
    EXPECT_EQ(Column(db, kIndexQuery), kIndexes);
    EXPECT_TRUE(db.RecordResults("h", "ECHO", "0", "60", "1", "up", "0"));
    EXPECT_TRUE(m_prompt.texts().empty()) << Shown(m_prompt);
}

TEST_F(ResultsDatabaseTest, RecordsFieldsWithTypesWidthsAndNulls)
{
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.open(m_settings));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    ASSERT_TRUE(db.RecordResults("www.example.org", "HTTP", "80", "120", "15", "", "0"));
    ASSERT_TRUE(db.RecordResults("", "", "", "", "", "", ""));
    ASSERT_TRUE(db.RecordResults(QString(200, 'h'), "QUOTE OF THE DAY", "65535", "5", "2147483647",
                                 QString(300, 'm'), "1"));

    EXPECT_EQ(Column(db,
                     "SELECT HOST || '|' || PROTOCOL || '|' || PORT || '|' || FREQUENCY || '|' "
                     "|| TIME || '|' || FAILURE || '|' || typeof(MESSAGE) || '|' || typeof(PORT) "
                     "|| typeof(FREQUENCY) || typeof(TIME) || typeof(FAILURE) FROM HISTORY "
                     "WHERE \"INDEX\" = 1"),
              QStringList({"www.example.org|HTTP|80|120|15|0|null|integerintegerintegerinteger"}));
    // An all-empty result still gives a row, with nothing but its time.
    EXPECT_EQ(Column(db, "SELECT coalesce(HOST, PROTOCOL, PORT, FREQUENCY, TIME, MESSAGE, FAILURE, "
                         "'all null') FROM HISTORY WHERE \"INDEX\" = 2"),
              QStringList({"all null"}));
    EXPECT_EQ(Column(db, "SELECT length(HOST) || ' ' || length(PROTOCOL) || ' ' || length(MESSAGE) "
                         "|| ' ' || FAILURE FROM HISTORY WHERE \"INDEX\" = 3"),
              QStringList({"96 12 255 1"}));

    const QStringList stamps = Column(db, "SELECT DATESTAMP FROM HISTORY ORDER BY \"INDEX\"");
    ASSERT_EQ(stamps.size(), 3);
    const QDateTime local = QDateTime::fromString(stamps[0], "yyyy-MM-dd HH:mm:ss.zzz");
    ASSERT_TRUE(local.isValid()) << stamps[0].toStdString();
    const QDateTime first(local.date(), local.time(), Qt::UTC);
    EXPECT_GE(first, before);
    EXPECT_LE(first, QDateTime::currentDateTimeUtc().addSecs(1));
    EXPECT_LE(stamps[0], stamps[1]);
    EXPECT_LE(stamps[1], stamps[2]);
    EXPECT_TRUE(m_prompt.texts().empty()) << Shown(m_prompt);
}

// A row that cannot be written, because a field is not a number or because
// SQLite itself refuses the insert, is shown (twice the same failure only
// with a success between) and the caller goes on; the next good row is kept.
TEST_F(ResultsDatabaseTest, FailedRecordsAreShownOnceAndTheNextGoodRecordIsKept)
{
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.open(m_settings));
    QSqlQuery rule(db.GetDatabase());
    ASSERT_TRUE(rule.exec("CREATE TRIGGER refuse BEFORE INSERT ON HISTORY WHEN NEW.MESSAGE = "
                          "'refused' BEGIN SELECT RAISE(ABORT, 'row refused by a rule'); END"));
    const struct
    {
        const char *port, *message, *failure;
        std::vector<std::string> shown; // parts of the second line; none: nothing shown
    } records[] = {
        {"eighty", "x", "0", {"PORT", "eighty"}},
        {"eighty", "x", "0", {}},
        {"80", "x", "maybe", {"FAILURE", "maybe"}},
        {"80", "refused", "0", {"row refused by a rule"}},
        {"80", "refused", "0", {}},
        {"80", "kept", "0", {}},
        {"80", "refused", "0", {"row refused by a rule"}},
    };
    for (const auto& r : records) {
        SCOPED_TRACE(std::string(r.port) + " " + r.message + " " + r.failure);
        const std::size_t before = m_prompt.messages().size();
        EXPECT_TRUE(db.RecordResults("h", "HTTP", r.port, "60", "5", r.message, r.failure));
        const auto shown = m_prompt.messages();
        ASSERT_EQ(shown.size(), before + (r.shown.empty() ? 0 : 2)) << Shown(m_prompt);
        if (r.shown.empty())
            continue;
        EXPECT_EQ(shown[before].text, "RecordResults");
        EXPECT_EQ(shown[before].icon, OperatorPrompt::Icon::Stop);
        for (const std::string& part : r.shown)
            EXPECT_NE(shown[before + 1].text.find(part), std::string::npos) << shown[before + 1].text;
    }
    EXPECT_TRUE(db.flush()) << Shown(m_prompt);
    EXPECT_EQ(Column(db, "SELECT MESSAGE FROM HISTORY"), QStringList({"kept"}));
    EXPECT_EQ(db.writeErrors(), 6u); // shown or not, every row not written counts
}

TEST_F(ResultsDatabaseTest, ClearingReportsTheCountAndTheCounterKeepsGrowing)
{
    const QString path = m_cwd.path() + "/clear.mdb";
    {
        ResultsDatabase db(m_prompt);
        ASSERT_TRUE(db.openFile(path));
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(db.RecordResults("h", "HTTP", "80", "60", QString::number(i), "m", "0"));
        EXPECT_EQ(db.ClearHistory(), 3);
        EXPECT_EQ(db.ClearHistory(), 0);
        ASSERT_EQ(m_prompt.texts(),
                  std::vector<std::string>({"3 Records Deleted", "0 Records Deleted"}));
        EXPECT_EQ(m_prompt.messages()[0].icon, OperatorPrompt::Icon::Plain);
        ASSERT_TRUE(db.RecordResults("h", "HTTP", "80", "60", "9", "m", "0"));
    }
    ResultsDatabase reopened(m_prompt);
    ASSERT_TRUE(reopened.openFile(path));
    ASSERT_TRUE(reopened.RecordResults("h", "HTTP", "80", "60", "9", "m", "0"));
    EXPECT_EQ(Column(reopened, "SELECT \"INDEX\" FROM HISTORY ORDER BY 1"),
              QStringList({"4", "5"}));
}

TEST_F(ResultsDatabaseTest, SecondCopyCannotTakeTheFileAndTheFirstLosesNothing)
{
    ASSERT_EQ(RequireProgram("/usr/bin/python3", "python3"), "");
    const QString path = m_cwd.path() + "/shared.mdb";
    ResultsDatabase first(m_prompt);
    ASSERT_TRUE(first.openFile(path));
    ASSERT_TRUE(first.RecordResults("a", "HTTP", "80", "60", "1", "one", "0"));

    ScriptedPrompt secondPrompt;
    ResultsDatabase second(secondPrompt);
    EXPECT_FALSE(second.openFile(path));
    EXPECT_FALSE(second.isOpen());
    const auto shown = secondPrompt.messages();
    ASSERT_EQ(shown.size(), 1u) << Shown(secondPrompt);
    EXPECT_EQ(shown[0].icon, OperatorPrompt::Icon::Stop);
    EXPECT_NE(shown[0].text.find("in use by another running copy"), std::string::npos)
        << shown[0].text;
    EXPECT_FALSE(second.RecordResults("b", "HTTP", "80", "60", "2", "lost", "0"));
    EXPECT_EQ(second.ClearHistory(), -1);

    // Another process cannot read or write it either.
    QProcess other;
    other.start("/usr/bin/python3",
                {"-c",
                 "import sqlite3,sys\n"
                 "c = sqlite3.connect(sys.argv[1], timeout=0)\n"
                 "c.execute('INSERT INTO HISTORY (HOST) VALUES (\"intruder\")')\n"
                 "c.commit()\n",
                 path});
    ASSERT_TRUE(other.waitForFinished(20000));
    EXPECT_NE(other.exitCode(), 0);
    EXPECT_TRUE(other.readAllStandardError().contains("locked"));

    ASSERT_TRUE(first.RecordResults("a", "HTTP", "80", "60", "3", "two", "0"));
    first.close();
    ResultsDatabase later(m_prompt);
    ASSERT_TRUE(later.openFile(path)) << Shown(m_prompt);
    EXPECT_EQ(Column(later, "SELECT MESSAGE FROM HISTORY ORDER BY \"INDEX\""),
              QStringList({"one", "two"}));
}

TEST_F(ResultsDatabaseTest, UnusableFilesAreShownAndLeftAlone)
{
    ResultsDatabase missingFolder(m_prompt);
    EXPECT_FALSE(missingFolder.openFile(m_cwd.path() + "/no/such/folder/x.mdb"));
    EXPECT_FALSE(missingFolder.RecordResults("h", "HTTP", "80", "60", "1", "m", "0"));

    const std::string notes = "This is not a database, and it must stay as it is.\n";
    const QString text = m_cwd.path() + "/notes.mdb";
    WriteFile(text.toStdString(), notes);
    ResultsDatabase notDatabase(m_prompt);
    EXPECT_FALSE(notDatabase.openFile(text));
    EXPECT_EQ(ReadFile(text.toStdString()), notes);

    const auto shown = m_prompt.messages();
    ASSERT_EQ(shown.size(), 2u) << Shown(m_prompt);
    EXPECT_NE(shown[0].text.find("does not exist"), std::string::npos) << shown[0].text;
    EXPECT_EQ(shown[1].icon, OperatorPrompt::Icon::Stop);
    EXPECT_NE(shown[1].text.find("not a database"), std::string::npos) << shown[1].text;
}

// SERVICES against the services of HISTORY, each "host|protocol|port".
void ExpectServicesMatchHistory(ResultsDatabase& db, const QString& when)
{
    const char* const row = "SELECT coalesce(HOST, 'NULL') || '|' || coalesce(PROTOCOL, 'NULL') "
                            "|| '|' || coalesce(PORT, 'NULL') AS s FROM %1 ";
    const QStringList services = Column(db, QString(row).arg("SERVICES") + "ORDER BY s");
    EXPECT_EQ(services, Column(db, QString(row).arg("HISTORY") +
                                       "GROUP BY HOST, PROTOCOL, PORT ORDER BY s"))
        << when.toStdString();
    EXPECT_EQ(services.size(), QSet<QString>(services.begin(), services.end()).size())
        << when.toStdString();
}

TEST_F(ResultsDatabaseTest, ServicesTableFollowsHistoryAndIsRebuiltForOlderFiles)
{
    const QString path = m_cwd.path() + "/services.mdb";
    {
        ResultsDatabase db(m_prompt);
        ASSERT_TRUE(db.openFile(path));
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(db.RecordResults("web", "HTTP", "80", "60", "1", "m", "0"));
            ASSERT_TRUE(db.RecordResults("web", "HTTP", "8080", "60", "1", "m", "0"));
            ASSERT_TRUE(db.RecordResults(QString(120, 'w'), "HTTP", "80", "60", "1", "m", "0"));
            ASSERT_TRUE(db.RecordResults("", "", "", "", "", "", ""));
        }
        ExpectServicesMatchHistory(db, "recorded");
        EXPECT_EQ(db.ClearHistory(), 12);
        ExpectServicesMatchHistory(db, "cleared");
        ASSERT_TRUE(db.RecordResults("mail", "SMTP", "25", "60", "1", "m", "0"));
        ASSERT_TRUE(db.RecordResults("web", "HTTP", "80", "60", "1", "m", "0"));
    }
    // Rows added by a writer that knows nothing of SERVICES.
    SeedFile(path, {"INSERT INTO HISTORY (HOST, PROTOCOL, PORT) VALUES ('new', 'ECHO', 0)",
                    "INSERT INTO HISTORY (HOST, PROTOCOL, PORT) VALUES ('web', 'HTTP', 80)"});
    {
        ResultsDatabase db(m_prompt);
        ASSERT_TRUE(db.openFile(path));
        ExpectServicesMatchHistory(db, "rows from elsewhere");
    }
    // A file from before SERVICES existed.
    SeedFile(path, {"DROP TABLE SERVICES", "DROP TABLE QUILLMERE_STATE"});
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.openFile(path));
    ExpectServicesMatchHistory(db, "rebuilt");
    EXPECT_EQ(Column(db, "SELECT count(*) FROM SERVICES"), QStringList({"3"}));
    EXPECT_EQ(m_prompt.texts(), std::vector<std::string>({"12 Records Deleted"}));
}

TEST_F(ResultsDatabaseTest, RetentionRemovesExactlyTheOldRows)
{
    const QString path = m_cwd.path() + "/retention.mdb";
    // Stamps relative to now; one old row comes after newer ones, as after
    // setting the clock back, and one has no stamp at all.
    const auto stamp = [](int days, int seconds = 0) {
        return QDateTime::currentDateTimeUtc()
            .addDays(-days)
            .addSecs(seconds)
            .toString("yyyy-MM-dd HH:mm:ss.zzz");
    };
    const QList<std::pair<QString, QString>> rows{
        {"a", stamp(40)},       {"gone", stamp(31)}, {"a", stamp(29)},
        {"a", stamp(30, 600)}, {"a", stamp(45)},    {"b", stamp(1)},
        {"a", QString()},
    };
    {
        ResultsDatabase db(m_prompt);
        ASSERT_TRUE(db.openFile(path));
        for (const auto& [host, when] : rows) {
            ASSERT_TRUE(db.RecordResults(host, "HTTP", "80", "60", "1", "m", "0"));
            QSqlQuery q(db.GetDatabase());
            ASSERT_TRUE(q.exec(QString("UPDATE HISTORY SET DATESTAMP = %1 WHERE \"INDEX\" = "
                                       "(SELECT max(\"INDEX\") FROM HISTORY)")
                                   .arg(when.isEmpty() ? "NULL" : "'" + when + "'")));
        }
        // On demand, a slice at a time.
        ASSERT_TRUE(db.startPrune(30));
        int slices = 0;
        while (db.pruneSlice() && slices < 1000)
            ++slices;
        EXPECT_EQ(db.prunedRows(), 3);
        EXPECT_EQ(Column(db, "SELECT HOST FROM HISTORY ORDER BY \"INDEX\""),
                  QStringList({"a", "a", "b", "a"}));
        ExpectServicesMatchHistory(db, "pruned");
    }
    // Kept days from the settings, pruned by the event loop after opening.
    SaveKeepDays(m_settings, 2);
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.open(m_settings, path));
    EXPECT_TRUE(PumpEventsUntil(
        [&] { return Column(db, "SELECT count(*) FROM HISTORY") == QStringList({"2"}); },
        std::chrono::seconds(10)));
    EXPECT_EQ(Column(db, "SELECT HOST FROM HISTORY ORDER BY \"INDEX\""),
              QStringList({"b", "a"}));
    EXPECT_TRUE(m_prompt.texts().empty()) << Shown(m_prompt);
}

TEST_F(ResultsDatabaseTest, KilledWriterLeavesAnIntactFileWithAllButTheLastBatch)
{
    const QString path = m_cwd.path() + "/killed.mdb";
    QProcess writer;
    writer.start(RESULTS_DB_WRITER_BIN, {path});
    ASSERT_TRUE(writer.waitForStarted(10000));
    long printed = 0;
    QByteArray output;
    QElapsedTimer clock;
    clock.start();
    while (printed < 5500 && clock.elapsed() < 30000 && writer.state() == QProcess::Running) {
        writer.waitForReadyRead(1000);
        output += writer.readAllStandardOutput();
        const QList<QByteArray> lines = output.split('\n');
        if (lines.size() > 1)
            printed = lines[lines.size() - 2].toLong();
    }
    ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
    ASSERT_TRUE(writer.waitForFinished(10000));
    ASSERT_GE(printed, 5500) << writer.readAllStandardError().toStdString();

    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.openFile(path)) << Shown(m_prompt);
    EXPECT_EQ(Column(db, "PRAGMA integrity_check"), QStringList({"ok"}));
    // The rows kept are the first ones recorded, without a gap.
    const long kept = Column(db, "SELECT count(*) FROM HISTORY").value(0).toLong();
    EXPECT_GE(kept, printed - ResultsDatabase::kBatchRows);
    EXPECT_EQ(Column(db, "SELECT count(*) FROM HISTORY WHERE CAST(MESSAGE AS INTEGER) != "
                         "\"INDEX\" - 1"),
              QStringList({"0"}));
    ExpectServicesMatchHistory(db, "killed");
}

} // namespace
} // namespace qm::test
