// quillmere-monitor end to end: hosts edited with the command line, then
// polled against local servers, with the printed lines and exit codes checked.

#include "support/EventPump.h"
#include "support/MaildirSmtpServer.h"
#include "support/RecordingPrompt.h"
#include "support/ScriptedServer.h"
#include "support/ServerProcess.h"
#include "support/TestNamespace.h"

#include "store/HostStore.h"
#include "store/ResultsDatabase.h"
#include "store/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qm::test {
namespace {

using namespace std::chrono_literals;

// A web server's answer to any request.
void AnswerOk(ScriptedConnection& c)
{
    c.receiveUntil("\r\n\r\n", 3s);
    c.send("HTTP/1.1 200 OK\r\nServer: scripted/2.0\r\nContent-Length: 0\r\n\r\n");
    c.close();
}

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

class MonitorCliTest : public ::testing::Test
{
protected:
    QString settings() const { return m_dir.filePath("quillmere.conf"); }
    QString database() const { return m_dir.filePath("results.mdb"); }

    // wrapper: a command line the program runs under (a namespace of its
    // own); settingsFile: another settings file than the test's usual one.
    CliRun run(const QStringList& args, const QStringList& wrapper = {}, const QString& settingsFile = {})
    {
        const QStringList all = wrapper + QStringList{QUILLMERE_MONITOR_BIN, "--settings",
                                                      settingsFile.isEmpty() ? settings() : settingsFile,
                                                      "--database", database()} + args;
        QProcess p;
        p.start(all.first(), all.mid(1));
        EXPECT_TRUE(p.waitForFinished(60000)) << all.join(' ').toStdString();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }
    // hosts add --host HOST --protocol PROTOCOL, which must succeed.
    void add(const QString& host, const QString& protocol, const QStringList& more = {})
    {
        const CliRun r = run(QStringList{"hosts", "add", "--host", host, "--protocol", protocol} + more);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    std::string settingsBytes() const { return ReadFile(settings().toStdString()); }

    QTemporaryDir m_dir;
};

TEST_F(MonitorCliTest, BadInputExitsTwoAndLeavesTheStoreUntouched)
{
    add("127.0.0.1", "ECHO");
    const std::string before = settingsBytes();
    ASSERT_FALSE(before.empty());
    // A file whose third line has a bad port: nothing of it is imported.
    const QString badFile = m_dir.filePath("bad.csv");
    WriteFile(badFile.toStdString(), "Protocol,Host,Port\nHTTP,127.0.0.1,80\nHTTP,127.0.0.2,99999\n");

    // Each in a namespace of its own: the unresolvable name must not reach
    // a name server.
    const QStringList add{"hosts", "add", "--host", "127.0.0.1", "--protocol"};
    const struct
    {
        QStringList args;
        QString error; // part of the message on stderr
    } bad[] = {
        {add + QStringList{"http"}, "unknown protocol \"http\""},
        {add + QStringList{"HTTP", "--port", "70000"}, "port"},
        {{"hosts", "add", "--protocol", "HTTP"}, "hosts add needs --host NAME"},
        {add + QStringList{"HTTP", "--float-errors", "11"}, "--float-errors"},
        {add + QStringList{"HTTP", "--bogus"}, "unknown option --bogus"},
        {add + QStringList{"SMTP", "--query-name", "a.test"}, "--query-name is for DNS hosts only"},
        {{"hosts", "add", "--host", "no-such-host.invalid", "--protocol", "HTTP"},
         "Can't resolve no-such-host.invalid"},
        {{"hosts", "remove", "7"}, "no host with index \"7\""},
        {{"frobnicate"}, "unknown command \"frobnicate\""},
        {{"hosts", "import", badFile}, "line 3: port \"99999\""},
        {{"log", "show", "web"}, "no results database"},
        {{"--database", "postgresql://u:pw@127.0.0.1/x", "log", "show", "web"}, "must not hold a password"},
    };
    for (const auto& b : bad) {
        const CliRun r = run(b.args, {"/usr/bin/unshare", "--net"});
        EXPECT_EQ(r.exitCode, 2) << b.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(b.error)) << r.err.toStdString();
    }
    EXPECT_EQ(settingsBytes(), before);

    const CliRun help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("hosts add"));
}

TEST_F(MonitorCliTest, OncePollsEveryHostAndExitCodeTellsWhetherAllSucceeded)
{
    ScriptedServer web(AnswerOk);
    // Peer text with line breaks, a tab, a backslash and a control byte.
    ScriptedServer quote([](ScriptedConnection& c) {
        c.send("a\tb\r\nc\\d\x01");
        c.close();
    });
    const QString webPort = QString::number(web.port());
    const QString deadPort = QString::number(FreeLoopbackPort());
    add("127.0.0.1", "QUOTE OF THE DAY", {"--port", QString::number(quote.port())});
    add("127.0.0.1", "ECHO", {"--nickname", "loop"});
    add("localhost", "HTTP", {"--port", webPort, "--freq", "5", "--user", "admin", "--password", "pw"});
    add("127.0.0.1", "HTTP", {"--port", deadPort, "--float-errors", "2"});
    add("127.0.0.1", "TIME", {"--disabled"});

    const CliRun list = run({"hosts", "list"});
    EXPECT_EQ(list.exitCode, 0);
    // Newest first, as the host wizard inserts them.
    const QStringList rows = list.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 6);
    EXPECT_TRUE(rows[1].startsWith("0\t127.0.0.1\t127.0.0.1\tTIME\t37\t120 sec\tno"));
    EXPECT_TRUE(rows[3].startsWith("2\tlocalhost\t127.0.0.1\tHTTP\t" + webPort + "\t5 sec\tyes"));
    EXPECT_TRUE(rows[4].endsWith("\tloop"));

    const CliRun once = run({"--once"});
    EXPECT_EQ(once.exitCode, 1) << once.err.toStdString();
    const QStringList lines = once.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << once.out.toStdString();
    for (const QString& line : lines) // five fields each
        EXPECT_EQ(line.count('\t'), 4) << line.toStdString();
    EXPECT_TRUE(once.out.contains(QRegularExpression(
        "\tOK\tQUOTE OF THE DAY//127.0.0.1:[0-9]+\t[^\t]+\ta\\\\tb\\\\r\\\\nc\\\\\\\\d\\\\x01\n")))
        << once.out.toStdString();
    EXPECT_TRUE(once.out.contains(QRegularExpression(
        "\tOK\tHTTP//localhost:" + webPort + "\t(<10|[0-9]+) msec\tHTTP/1.1 200 OK \\[scripted/2.0\\]")))
        << once.out.toStdString();
    EXPECT_TRUE(once.out.contains("\tFAIL\tHTTP//127.0.0.1:" + deadPort +
                                  "\tError\tConnect Failed The attempt to connect was forcefully rejected."));
    EXPECT_TRUE(once.out.contains("\tOK\tECHO//127.0.0.1:7\t"));
    EXPECT_FALSE(once.out.contains("TIME//"));
    // The probe sent the credentials and the host text as typed.
    ASSERT_FALSE(web.received().empty());
    EXPECT_EQ(web.received()[0], "HEAD / HTTP/1.1\r\nAccept: text/html\r\nHOST: localhost\r\nAuthorization: Basic YWRtaW46cHc=\r\n"
        "Connection: close\r\n\r\n");

    ASSERT_EQ(run({"hosts", "remove", "--host", "127.0.0.1"}).exitCode, 0);
    const CliRun good = run({"--once"});
    EXPECT_EQ(good.exitCode, 0) << good.out.toStdString() << good.err.toStdString();
    EXPECT_EQ(good.out.count('\n'), 1);
}

// A host that goes down on --once: the runner sends its HOST DOWN mail
// before it exits, saying what it waits for; a signal while it waits gives
// the mail up at once. In a namespace of the test's own, where the mail
// server can have port 25 and 10.77.0.9 never answers.
TEST_F(MonitorCliTest, DownMailGoesOutBeforeExitUnlessASignalGivesItUp)
{
    {
        SettingsStore store(settings());
        store.writeString("ConfigNotificationDefaults", "EMAIL_FROM_ADDRESS", "monitor@example.test");
        store.writeInt("ConfigNotificationDefaults", "DESKTOP_NOTIFY", 0);
    }
    const QStringList addDown{"--port", QString::number(FreeLoopbackPort()), "--nickname", "web1",
                              "--float-errors", "0", "--mail-to", "ops@example.test", "--mail-server"};
    const QString pending = "  HOST DOWN: web1 (127.0.0.1) (mail to ops@example.test via %1)\n";
    TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    const std::string entered = ns.runHere([&] {
        MaildirSmtpServer mta(25);
        ASSERT_EQ(mta.error(), "");
        add("127.0.0.1", "HTTP", addDown + QStringList{"127.0.0.1"});
        const CliRun once = run({"--once"});
        EXPECT_EQ(once.exitCode, 1);
        EXPECT_TRUE(once.err.contains(pending.arg("127.0.0.1"))) << once.err.toStdString();
        const auto mails = mta.waitForMessages(1, 5s);
        ASSERT_EQ(mails.size(), 1u) << once.err.toStdString();
        EXPECT_NE(mails[0].find("Subject: HOST DOWN: web1 (127.0.0.1)\n"), std::string::npos) << mails[0];

        ASSERT_EQ(run({"hosts", "remove", "0"}).exitCode, 0);
        add("127.0.0.1", "HTTP", addDown + QStringList{TestNamespace::kSilentAddress});
        QProcess stuck;
        stuck.start(QUILLMERE_MONITOR_BIN, {"--settings", settings(), "--database", database(), "--once"});
        QString err;
        ASSERT_TRUE(PumpEventsUntil(
            [&] {
                stuck.waitForReadyRead(100);
                err += QString::fromLocal8Bit(stuck.readAllStandardError());
                return err.contains(pending.arg(TestNamespace::kSilentAddress));
            },
            30s))
            << err.toStdString();
        ::kill(static_cast<pid_t>(stuck.processId()), SIGTERM);
        ASSERT_TRUE(stuck.waitForFinished(5000));
        err += QString::fromLocal8Bit(stuck.readAllStandardError());
        EXPECT_TRUE(err.contains("abandoned 1 notification(s) or upload(s):\nquillmere-monitor: " +
                                 pending.arg(TestNamespace::kSilentAddress)))
            << err.toStdString();
        EXPECT_EQ(stuck.exitCode(), 1);
    });
    EXPECT_EQ(entered, "");
}

TEST_F(MonitorCliTest, ResultsAreRecordedAndStatusFilesExported)
{
    ScriptedServer web(AnswerOk);
    const QString deadPort = QString::number(FreeLoopbackPort());
    add("127.0.0.1", "HTTP", {"--port", QString::number(web.port()), "--freq", "1"});
    add("127.0.0.1", "HTTP", {"--port", deadPort, "--freq", "1"});
    {
        SettingsStore store(settings());
        store.writeInt("ConfigXML", "ENABLE", 1);
        store.writeInt("ConfigXML", "FREQUENCY", 1);
        store.writeInt("ConfigXML", "LOCAL_RADIO", 1);
        store.writeString("ConfigXML", "LOCAL_FOLDER", m_dir.path());
    }
    const CliRun monitored = run({"--duration", "6"});
    ASSERT_EQ(monitored.exitCode, 0) << monitored.err.toStdString();
    EXPECT_TRUE(monitored.err.contains("Last XML Update: ")) << monitored.err.toStdString();
    EXPECT_TRUE(monitored.err.contains("HD FreeSpace "));
    const QStringList printed = monitored.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(printed.size(), 4);

    // One database row per printed result, with the same values.
    QStringList shown, recorded;
    for (const QString& line : printed) // all but the time of day
        shown << line.section('\t', 1);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "check");
        db.setDatabaseName(database());
        ASSERT_TRUE(db.open());
        QSqlQuery q("SELECT CASE FAILURE WHEN 1 THEN 'FAIL' ELSE 'OK' END || char(9) || "
                    "PROTOCOL || '//' || HOST || ':' || PORT || char(9) || CASE WHEN TIME = "
                    "2147483647 THEN 'Error' WHEN TIME < 10 THEN '<10 msec' ELSE TIME || ' msec' "
                    "END || char(9) || MESSAGE, FREQUENCY FROM HISTORY ORDER BY \"INDEX\"",
                    db);
        while (q.next()) {
            recorded << q.value(0).toString();
            EXPECT_EQ(q.value(1).toInt(), 1);
        }
    }
    QSqlDatabase::removeDatabase("check");
    EXPECT_EQ(recorded, shown);

    const QString server =
        QString::fromStdString(ReadFile(m_dir.filePath("server.xml").toStdString()));
    EXPECT_TRUE(server.contains("127.0.0.1")) << server.toStdString();
    EXPECT_TRUE(server.contains(deadPort));
    EXPECT_TRUE(QFile::exists(m_dir.filePath("message.xml")));
}

TEST_F(MonitorCliTest, AddOptionsFillTheirColumns)
{
    add("127.0.0.1", "HTTP", {"--mail-to", "ops@lan", "--mail-server", "smtp.lan", "--pager", "555,,1#"});
    add("127.0.0.1", "ECHO", {"--sound", "/tmp/a.wav", "--no-notify"});
    // A mail domain without its "@" is added with a warning; a DNS entry
    // keeps its query name in the Domain field.
    const CliRun bare = run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "SMTP", "--domain", "example.org"});
    EXPECT_EQ(bare.exitCode, 0);
    EXPECT_TRUE(bare.err.contains("warning: the e-mail domain \"example.org\" has no \"@\""))
        << bare.err.toStdString();
    add("127.0.0.1", "DNS", {"--query-name", "zone.test"});
    SettingsStore store(settings());
    const auto hosts = LoadHosts(store);
    ASSERT_EQ(hosts.size(), 4u);
    const struct
    {
        std::size_t row;
        HostColumn column;
        const char* text;
    } expected[] = {
        {0, ColDomain, "zone.test"}, {1, ColDomain, "example.org"},
        {2, ColNotifySoundFile, "/tmp/a.wav"}, {2, ColNotifySoundEnable, "1"}, {2, ColNotifyEnable, "0"},
        {3, ColNotifyEnable, "1"}, {3, ColNotifyMailEnable, "1"}, {3, ColNotifyMailAddress, "ops@lan"},
        {3, ColNotifyMailServer, "smtp.lan"}, {3, ColNotifyPagerEnable, "1"},
        {3, ColNotifyPagerSequence, "555,,1#"}, {3, ColNotifySoundEnable, "0"},
    };
    for (const auto& e : expected)
        EXPECT_EQ(hosts[e.row][e.column], e.text) << e.row << " " << e.column;
}

// Records from the sender a SYSLOG entry names, none from others; SIGTERM
// then ends monitoring with exit code 0.
TEST_F(MonitorCliTest, SyslogEntriesReceiveRecordsFromTheirSenderOnlyUntilTerminated)
{
    ASSERT_EQ(RequireProgram("/usr/bin/logger", "bsdutils"), "");
    const QString port = QString::number(FreeLoopbackPort(true));
    add("127.0.0.1", "SYSLOG", {"--port", port});
    QProcess monitor;
    monitor.start(QUILLMERE_MONITOR_BIN, {"--settings", settings(), "--database", database()});
    ASSERT_TRUE(monitor.waitForStarted());
    ASSERT_TRUE(WaitForUdpPort(port.toInt(), 5s));
    // A sender that no SYSLOG entry names changes nothing.
    ASSERT_TRUE(SendLoopbackDatagram(port.toInt(), "<11>from a stranger", "127.0.0.5"));
    for (const QStringList& extra : {QStringList{"-p", "user.err", "disk failing"},
                                     QStringList{"--rfc3164", "-p", "local7.err", "async line"},
                                     QStringList{"-p", "syslog.info", "all good"}})
        EXPECT_EQ(QProcess::execute("/usr/bin/logger", QStringList{"-n", "127.0.0.1", "-P", port, "-d"} + extra), 0);
    QString out;
    EXPECT_TRUE(PumpEventsUntil(
        [&] {
            out += QString::fromLocal8Bit(monitor.readAllStandardOutput());
            return out.count('\n') >= 3;
        },
        10s))
        << out.toStdString();
    ::kill(static_cast<pid_t>(monitor.processId()), SIGTERM);
    ASSERT_TRUE(monitor.waitForFinished(30000));
    EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(monitor.exitCode(), 0);
    out += QString::fromLocal8Bit(monitor.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QRegularExpression(
        "\tFAIL\tSYSLOG//127.0.0.1:" + port + "\tError\t\\[3_ERROR\\]\\[USER\\]: .*disk failing")))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QRegularExpression(
        "\tOK\tSYSLOG//127.0.0.1:" + port + "\t<10 msec\t\\[3_NORMAL\\]\\[CISCO ASYNC\\]: .*async line")));
    EXPECT_TRUE(out.contains(QRegularExpression("\tOK\t.*\\[6_INFO\\]\\[SYSLOGD\\]: .*all good")));
    EXPECT_FALSE(out.contains("stranger"));
    EXPECT_EQ(out.count('\n'), 3);
}

// A settings file that cannot be read (a folder stands where it should be)
// is neither listed nor changed: exit 2. One that cannot be written (its
// folder cannot be made, or is mounted read-only) is listed, but every change
// fails with exit 1 and leaves the file as it was.
TEST_F(MonitorCliTest, HostsCommandsFailWhenTheSettingsFileCannotBeReadOrWritten)
{
    const QString folder = m_dir.filePath("folder.conf");
    ASSERT_TRUE(QDir().mkdir(folder));
    WriteFile(m_dir.filePath("plain").toStdString(), "");
    const QString orphan = m_dir.filePath("plain/quillmere.conf");
    const QString readOnly = m_dir.filePath("ro");
    ASSERT_TRUE(QDir().mkdir(readOnly));
    const QString frozen = readOnly + "/quillmere.conf";
    ASSERT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "ECHO"}, {}, frozen).exitCode, 0);
    const std::string frozenBytes = ReadFile(frozen.toStdString());
    const QString csv = m_dir.filePath("one.csv");
    WriteFile(csv.toStdString(), "Protocol,Host,Port\nHTTP,127.0.0.1,80\n");
    // The program runs in a mount namespace of its own, where the folder is
    // bound read-only onto itself.
    const QStringList mountedReadOnly{"/usr/bin/unshare", "--mount", "sh", "-c",
                                      "mount --bind -o ro \"$0\" \"$0\" && exec \"$@\"", readOnly};

    const QString cannotRead = "cannot read the settings file " + folder;
    const QStringList addEcho{"add", "--host", "127.0.0.1", "--protocol", "ECHO"};
    const struct
    {
        QString file;
        QStringList wrapper, args;
        int exitCode;
        QString error; // part of the message on stderr
    } cases[] = {
        {folder, {}, {"list"}, 2, cannotRead},
        {folder, {}, addEcho, 2, cannotRead},
        {folder, {}, {"remove", "0"}, 2, cannotRead},
        {folder, {}, {"import", csv}, 2, cannotRead},
        {orphan, {}, {"list"}, 0, ""},
        {orphan, {}, addEcho, 1, "cannot write the settings file " + orphan},
        {orphan, {}, {"import", csv}, 1, "cannot write the settings file " + orphan},
        {frozen, mountedReadOnly, {"list"}, 0, ""},
        {frozen, mountedReadOnly, addEcho, 1, "cannot write the settings file " + frozen},
        {frozen, mountedReadOnly, {"remove", "0"}, 1, "cannot write the settings file " + frozen},
        {frozen, mountedReadOnly, {"import", csv}, 1, "cannot write the settings file " + frozen},
    };
    for (const auto& c : cases) {
        const CliRun r = run(QStringList{"hosts"} + c.args, c.wrapper, c.file);
        const std::string what = c.file.toStdString() + ": hosts " + c.args.join(' ').toStdString();
        EXPECT_EQ(r.exitCode, c.exitCode) << what << "\n" << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.error)) << what << "\n" << r.err.toStdString();
        EXPECT_EQ(r.out.contains("ECHO"), c.file == frozen && c.args == QStringList{"list"}) << what;
    }
    EXPECT_TRUE(QDir(folder).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(orphan));
    EXPECT_EQ(ReadFile(frozen.toStdString()), frozenBytes);
}

// Under the journal, stderr is the file JOURNAL_STREAM names by device and
// inode; each diagnostic line then starts with its priority.
TEST_F(MonitorCliTest, DiagnosticsCarryJournalPrioritiesOnlyUnderTheJournal)
{
    const QString errFile = m_dir.filePath("journal");
    WriteFile(errFile.toStdString(), "");
    struct stat st{};
    ASSERT_EQ(::stat(errFile.toLocal8Bit().constData(), &st), 0);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("JOURNAL_STREAM", QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino));
    p.setProcessEnvironment(env);
    p.setStandardErrorFile(errFile);
    p.start(QUILLMERE_MONITOR_BIN, {"--settings", settings(), "--database", database(), "--once"});
    ASSERT_TRUE(p.waitForFinished(30000));
    const QString journal = QString::fromStdString(ReadFile(errFile.toStdString()));
    EXPECT_TRUE(journal.contains("<6>quillmere-monitor: monitoring 0 of 0 host(s)")) << journal.toStdString();
    EXPECT_TRUE(journal.contains("<4>quillmere-monitor: no hosts yet")) << journal.toStdString();

    // Anywhere else (a pipe here) the same lines carry no prefix.
    const CliRun plain = run({"--once"});
    EXPECT_TRUE(plain.err.contains("\nquillmere-monitor: no hosts yet") || plain.err.startsWith("quillmere-monitor: no hosts yet"))
        << plain.err.toStdString();
    EXPECT_FALSE(plain.err.contains("<4>"));

    // What a damaged settings file made the reading replace is told.
    WriteFile(settings().toStdString(), "[HOSTS]\nCount=1\n0\\HOST=127.0.0.1\n0\\PROTOCOL=ECHO\n0\\FREQ=often\n");
    EXPECT_TRUE(run({"--once"}).err.contains(
        "host \"127.0.0.1\": frequency \"often\" is not a number of seconds; 120 sec is used"));
}

TEST_F(MonitorCliTest, HostsImportAndExportRoundTripAndLogCommandsReadTheDatabase)
{
    // Columns in any order, texts that need quoting, the rest from defaults.
    const QString csv = m_dir.filePath("hosts.csv");
    WriteFile(csv.toStdString(), "Protocol,Host,Nickname,Port,Freq\r\n"
                                 "HTTP,127.0.0.1,\"web, \"\"main\"\"\nsite\",8080,30 sec\r\n"
                                 "\r\n"
                                 "ECHO,127.0.0.2,,,5\r\n");
    const CliRun imported = run({"hosts", "import", csv});
    ASSERT_EQ(imported.exitCode, 0) << imported.err.toStdString();
    const CliRun exported = run({"hosts", "export"});
    ASSERT_EQ(exported.exitCode, 0);
    const QStringList lines = exported.out.split('\n');
    ASSERT_GE(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith("Host,Address,Nickname,Protocol,Port,Freq,UserID,Password,"));
    EXPECT_TRUE(lines[1].startsWith("127.0.0.1,127.0.0.1,\"web, \"\"main\"\"")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith("site\",HTTP,8080,30 sec,"));
    EXPECT_TRUE(lines[3].startsWith("127.0.0.2,127.0.0.2,,ECHO,7,5 sec,")) << lines[3].toStdString();
    // The export reads back as the same hosts, above the ones already there.
    WriteFile(csv.toStdString(), exported.out.toStdString());
    ASSERT_EQ(run({"hosts", "import", csv}).exitCode, 0);
    EXPECT_EQ(run({"hosts", "export"}).out, exported.out + lines.mid(1).join('\n'));
    // Without a Port column each host gets its protocol's port.
    WriteFile(csv.toStdString(), "Host,Protocol\n127.0.0.3,SMTP\n");
    ASSERT_EQ(run({"hosts", "import", csv}).exitCode, 0);
    EXPECT_TRUE(run({"hosts", "export"}).out.split('\n').value(1).startsWith("127.0.0.3,127.0.0.3,,SMTP,25,"));

    {
        ScriptedPrompt prompt;
        ResultsDatabase db(prompt);
        ASSERT_TRUE(db.openFile(database()));
        for (const char* time : {"100", "300", "2147483647"})
            db.RecordResults("web", "HTTP", "80", "60", time, "m", time[0] == '2' ? "1" : "0");
        db.RecordResults("old", "FTP", "21", "60", "5", "m", "0");
        QSqlQuery q(db.GetDatabase());
        ASSERT_TRUE(q.exec("UPDATE HISTORY SET DATESTAMP = '2001-01-01 00:00:00.000' "
                           "WHERE HOST = 'old'"));
    }
    EXPECT_EQ(run({"log", "hosts"}).out, "old\nweb\n");
    const CliRun show = run({"log", "show", "web", "HTTP", "80"});
    EXPECT_EQ(show.exitCode, 0);
    const QStringList shown = show.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(shown.size(), 6) << show.out.toStdString();
    EXPECT_TRUE(shown[3].endsWith("\tm\terror\terror")) << shown[3].toStdString();
    EXPECT_EQ(shown[4], "Average Response Time: 200.00 msec");
    EXPECT_EQ(shown[5], "# Polls 3");
    EXPECT_EQ(run({"log", "prune", "--days", "1"}).out, "1 Records Deleted\n");
    EXPECT_EQ(run({"log", "hosts"}).out, "web\n");
    EXPECT_EQ(run({"log", "clear"}).out, "3 Records Deleted\n");
    EXPECT_EQ(run({"log", "hosts"}).out, "");
}

TEST_F(MonitorCliTest, TraceRoutePrintsTheReport)
{
    const CliRun trace = run({"traceroute", "127.0.0.1"});
    EXPECT_EQ(trace.exitCode, 0);
    EXPECT_TRUE(trace.out.startsWith("Tracing Route to [127.0.0.1]\n"));
    EXPECT_TRUE(trace.out.contains("TTL_01\t"));
    EXPECT_EQ(run({"traceroute"}).exitCode, 2);
}

} // namespace
} // namespace qm::test
