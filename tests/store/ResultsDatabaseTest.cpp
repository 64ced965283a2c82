// The results database: creation, upgrade of older files, recording, clearing
// and exclusive use of the file.

#include "StoreTestSupport.h"

#include "store/ResultsDatabase.h"
#include "store/SettingsStore.h"
#include "support/ServerProcess.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// Builds a database file the way an older version or another tool left it.
void SeedFile(const QString& path, const QStringList& statements)
{
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("seed"));
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        for (const QString& s : statements) {
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(s)) << s.toStdString() << ": " << q.lastError().text().toStdString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed"));
}

QStringList Column(ResultsDatabase& db, const QString& statement, int column = 0)
{
    QStringList out;
    QSqlQuery q(db.GetDatabase());
    EXPECT_TRUE(q.exec(statement)) << q.lastError().text().toStdString();
    while (q.next())
        out << (q.value(column).isNull() ? QStringLiteral("NULL") : q.value(column).toString());
    return out;
}

class ResultsDatabaseTest : public ::testing::Test
{
protected:
    ScopedCurrentDir m_cwd;
    SettingsStore m_settings{m_cwd.path() + QStringLiteral("/settings.ini")};
    RecordingPrompt m_prompt;
};

TEST_F(ResultsDatabaseTest, FirstStartCreatesTheDefaultFileWithTableAndIndexes)
{
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.open(m_settings)) << m_prompt.all();
    const QString expected = m_cwd.path() + QStringLiteral("/Quillmere.mdb");
    EXPECT_TRUE(QFile::exists(expected));
    EXPECT_EQ(m_settings.readString("ConfigDatabase", "DATABASE_FILE"), expected);
    EXPECT_EQ(db.fileName(), expected);

    EXPECT_EQ(Column(db, "PRAGMA table_info(HISTORY)", 1),
              QStringList({"INDEX", "HOST", "PROTOCOL", "PORT", "FREQUENCY", "TIME", "MESSAGE",
                           "FAILURE", "DATESTAMP"}));
    EXPECT_EQ(Column(db, "PRAGMA table_info(HISTORY)", 2),
              QStringList({"INTEGER", "VARCHAR(96)", "VARCHAR(12)", "SMALLINT", "SMALLINT",
                           "INTEGER", "VARCHAR(255)", "BOOLEAN", "DATETIME"}));
    EXPECT_EQ(Column(db, "PRAGMA table_info(HISTORY)", 5),
              QStringList({"1", "0", "0", "0", "0", "0", "0", "0", "0"}));
    EXPECT_EQ(Column(db, "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = "
                         "'HISTORY' ORDER BY name"),
              QStringList({"INDEX", "SERVICE"}));
    EXPECT_EQ(Column(db, "PRAGMA index_info(SERVICE)", 2),
              QStringList({"HOST", "PROTOCOL", "PORT"}));
    EXPECT_EQ(Column(db, "PRAGMA journal_mode"), QStringList({"wal"}));
    EXPECT_TRUE(m_prompt.messages.empty()) << m_prompt.all();
}

TEST_F(ResultsDatabaseTest, FileNamedOnTheCommandLineIsUsedInstead)
{
    m_settings.writeString("ConfigDatabase", "DATABASE_FILE", m_cwd.path() + "/stored.mdb");
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.open(m_settings, m_cwd.path() + "/given.mdb")) << m_prompt.all();
    EXPECT_TRUE(QFile::exists(m_cwd.path() + "/given.mdb"));
    EXPECT_FALSE(QFile::exists(m_cwd.path() + "/stored.mdb"));
    EXPECT_EQ(m_settings.readString("ConfigDatabase", "DATABASE_FILE"),
              m_cwd.path() + "/stored.mdb");
}

TEST_F(ResultsDatabaseTest, OldTableWithoutFrequencyGainsTheColumn)
{
    const QString path = m_cwd.path() + "/old.mdb";
    SeedFile(
        path,
        {"CREATE TABLE HISTORY (\"INDEX\" INTEGER PRIMARY KEY AUTOINCREMENT, HOST VARCHAR(96), "
         "PROTOCOL VARCHAR(12), PORT SMALLINT, TIME INTEGER, MESSAGE VARCHAR(255), FAILURE "
         "BOOLEAN, "
         "DATESTAMP DATETIME)",
         "INSERT INTO HISTORY (HOST, PROTOCOL, PORT, TIME, MESSAGE, FAILURE, DATESTAMP) "
         "VALUES ('old', 'FTP', 21, 5, 'kept', 0, '2001-02-03 04:05:06.000')"});
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.openFile(path)) << m_prompt.all();
    EXPECT_TRUE(Column(db, "PRAGMA table_info(HISTORY)", 1).contains("FREQUENCY"));
    EXPECT_EQ(Column(db, "SELECT HOST || '/' || MESSAGE FROM HISTORY"), QStringList({"old/kept"}));
    EXPECT_EQ(Column(db, "SELECT FREQUENCY FROM HISTORY"), QStringList({"NULL"}));

    ASSERT_TRUE(db.RecordResults("new", "HTTP", "80", "30", "12", "fine", "0"));
    EXPECT_EQ(Column(db, "SELECT FREQUENCY FROM HISTORY ORDER BY \"INDEX\""),
              QStringList({"NULL", "30"}));
    EXPECT_TRUE(m_prompt.messages.empty()) << m_prompt.all();
}

TEST_F(ResultsDatabaseTest, ExistingFileWithoutHistoryGainsTheTable)
{
    const QString path = m_cwd.path() + "/other.mdb";
    SeedFile(path,
             {"CREATE TABLE NOTES (TEXT VARCHAR(20))", "INSERT INTO NOTES VALUES ('keep me')"});
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.openFile(path)) << m_prompt.all();
    EXPECT_EQ(Column(db, "SELECT TEXT FROM NOTES"), QStringList({"keep me"}));
    EXPECT_EQ(Column(db, "PRAGMA table_info(HISTORY)", 1).size(), 9);
    EXPECT_EQ(Column(db, "SELECT name FROM sqlite_master WHERE type = 'index' ORDER BY name"),
              QStringList({"INDEX", "SERVICE"}));
    EXPECT_TRUE(db.RecordResults("h", "ECHO", "0", "60", "1", "up", "0"));
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

    EXPECT_EQ(Column(db, "SELECT HOST || '|' || PROTOCOL || '|' || PORT || '|' || FREQUENCY || '|' "
                         "|| TIME || '|' || "
                         "FAILURE || '|' || typeof(MESSAGE) FROM HISTORY WHERE \"INDEX\" = 1"),
              QStringList({"www.example.org|HTTP|80|120|15|0|null"}));
    EXPECT_EQ(Column(db, "SELECT typeof(PORT) || typeof(FREQUENCY) || typeof(TIME) || "
                         "typeof(FAILURE) FROM HISTORY "
                         "WHERE \"INDEX\" = 1"),
              QStringList({"integerintegerintegerinteger"}));
    // An all-empty result still gives a row, with nothing but its time.
    EXPECT_EQ(
        Column(
            db,
            "SELECT coalesce(HOST, PROTOCOL, PORT, FREQUENCY, TIME, MESSAGE, FAILURE, 'all null') "
            "FROM HISTORY WHERE \"INDEX\" = 2"),
        QStringList({"all null"}));
    EXPECT_EQ(Column(db, "SELECT length(HOST) || ' ' || length(PROTOCOL) || ' ' || length(MESSAGE) "
                         "|| ' ' || FAILURE "
                         "FROM HISTORY WHERE \"INDEX\" = 3"),
              QStringList({"96 12 255 1"}));

    const QStringList stamps = Column(db, "SELECT DATESTAMP FROM HISTORY ORDER BY \"INDEX\"");
    ASSERT_EQ(stamps.size(), 3);
    const QDateTime first = QDateTime::fromString(stamps[0], "yyyy-MM-dd HH:mm:ss.zzz");
    ASSERT_TRUE(first.isValid()) << stamps[0].toStdString();
    EXPECT_GE(QDateTime(first.date(), first.time(), Qt::UTC), before);
    EXPECT_LE(QDateTime(first.date(), first.time(), Qt::UTC),
              QDateTime::currentDateTimeUtc().addSecs(1));
    EXPECT_LE(stamps[0], stamps[1]);
    EXPECT_LE(stamps[1], stamps[2]);
    EXPECT_TRUE(m_prompt.messages.empty()) << m_prompt.all();
}

TEST_F(ResultsDatabaseTest, BadNumberIsShownOnceUntilARecordSucceeds)
{
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.open(m_settings));
    EXPECT_TRUE(db.RecordResults("h", "HTTP", "eighty", "60", "5", "x", "0"));
    ASSERT_EQ(m_prompt.texts().size(), 2u);
    EXPECT_EQ(m_prompt.messages[0].text, "RecordResults");
    EXPECT_EQ(m_prompt.messages[0].icon, OperatorPrompt::Icon::Stop);
    EXPECT_NE(m_prompt.messages[1].text.find("PORT"), std::string::npos) << m_prompt.all();
    EXPECT_NE(m_prompt.messages[1].text.find("eighty"), std::string::npos) << m_prompt.all();

    EXPECT_TRUE(db.RecordResults("h", "HTTP", "eighty", "60", "5", "x", "0"));
    EXPECT_EQ(m_prompt.messages.size(), 2u) << "a repeat of the same failure is not shown again";
    EXPECT_TRUE(db.RecordResults("h", "HTTP", "80", "60", "5", "x", "maybe"));
    EXPECT_EQ(m_prompt.messages.size(), 4u) << m_prompt.all();
    EXPECT_TRUE(db.RecordResults("h", "HTTP", "80", "60", "5", "x", "0"));
    EXPECT_TRUE(db.RecordResults("h", "HTTP", "80", "60", "5", "x", "maybe"));
    EXPECT_EQ(m_prompt.messages.size(), 6u) << "shown again after a success";
    // Nothing of the bad rows was written; the caller still goes on.
    EXPECT_EQ(Column(db, "SELECT count(*) FROM HISTORY"), QStringList({"1"}));
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
        EXPECT_EQ(m_prompt.messages[0].icon, OperatorPrompt::Icon::Plain);
        ASSERT_TRUE(db.RecordResults("h", "HTTP", "80", "60", "9", "m", "0"));
        EXPECT_EQ(Column(db, "SELECT \"INDEX\" FROM HISTORY"), QStringList({"4"}));
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

    RecordingPrompt secondPrompt;
    ResultsDatabase second(secondPrompt);
    EXPECT_FALSE(second.openFile(path));
    EXPECT_FALSE(second.isOpen());
    ASSERT_EQ(secondPrompt.messages.size(), 1u) << secondPrompt.all();
    EXPECT_EQ(secondPrompt.messages[0].icon, OperatorPrompt::Icon::Stop);
    EXPECT_NE(secondPrompt.messages[0].text.find("in use by another running copy"),
              std::string::npos)
        << secondPrompt.all();
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
    ASSERT_TRUE(later.openFile(path)) << m_prompt.all();
    EXPECT_EQ(Column(later, "SELECT MESSAGE FROM HISTORY ORDER BY \"INDEX\""),
              QStringList({"one", "two"}));
}

TEST_F(ResultsDatabaseTest, UnusableFilesAreShownAndLeftAlone)
{
    ResultsDatabase missingFolder(m_prompt);
    EXPECT_FALSE(missingFolder.openFile(m_cwd.path() + "/no/such/folder/x.mdb"));
    ASSERT_EQ(m_prompt.messages.size(), 1u);
    EXPECT_NE(m_prompt.messages[0].text.find("does not exist"), std::string::npos)
        << m_prompt.all();
    EXPECT_FALSE(missingFolder.RecordResults("h", "HTTP", "80", "60", "1", "m", "0"));

    const QString text = m_cwd.path() + "/notes.mdb";
    WriteFile(text.toStdString(), "This is not a database, and it must stay as it is.\n");
    RecordingPrompt prompt;
    ResultsDatabase notDatabase(prompt);
    EXPECT_FALSE(notDatabase.openFile(text));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].icon, OperatorPrompt::Icon::Stop);
    EXPECT_NE(prompt.messages[0].text.find("not a database"), std::string::npos) << prompt.all();
    EXPECT_EQ(ReadFile(text.toStdString()), "This is not a database, and it must stay as it is.\n");
}

} // namespace
} // namespace qm::test
