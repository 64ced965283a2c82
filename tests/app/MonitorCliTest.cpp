// quillmere-monitor end to end: hosts edited with the command line, then
// polled against local servers, with the printed lines and exit codes checked.

#include "support/ScriptedServer.h"
#include "support/ServerProcess.h"

#include "store/HostStore.h"
#include "store/SettingsStore.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

using namespace std::chrono_literals;

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

class MonitorCliTest : public ::testing::Test
{
protected:
    QString settings() const { return m_dir.filePath(QStringLiteral("quillmere.conf")); }
    QString database() const { return m_dir.filePath(QStringLiteral("results.mdb")); }

    // isolated: in a network namespace of its own, where name look-ups cannot
    // leave the machine.
    CliRun run(QStringList args, bool isolated = false, int timeoutMs = 60000)
    {
        QProcess p;
        args.prepend(database());
        args.prepend(QStringLiteral("--database"));
        args.prepend(settings());
        args.prepend(QStringLiteral("--settings"));
        if (isolated) {
            args.prepend(QStringLiteral(QUILLMERE_MONITOR_BIN));
            args.prepend(QStringLiteral("--net"));
            p.start(QStringLiteral("/usr/bin/unshare"), args);
        } else {
            p.start(QStringLiteral(QUILLMERE_MONITOR_BIN), args);
        }
        EXPECT_TRUE(p.waitForFinished(timeoutMs)) << args.join(QLatin1Char(' ')).toStdString();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }
    QByteArray settingsBytes() const
    {
        QFile f(settings());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
};

TEST_F(MonitorCliTest, BadInputExitsTwoAndLeavesTheStoreUntouched)
{
    ASSERT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "ECHO"}).exitCode, 0);
    const QByteArray before = settingsBytes();
    ASSERT_FALSE(before.isEmpty());

    const CliRun proto = run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "http"});
    EXPECT_EQ(proto.exitCode, 2);
    EXPECT_TRUE(proto.err.contains(QStringLiteral("unknown protocol \"http\""))) << proto.err.toStdString();
    const CliRun port = run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "HTTP", "--port", "70000"});
    EXPECT_EQ(port.exitCode, 2);
    EXPECT_TRUE(port.err.contains(QStringLiteral("port"))) << port.err.toStdString();
    EXPECT_EQ(run({"hosts", "add", "--protocol", "HTTP"}).exitCode, 2);
    EXPECT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "HTTP", "--float-errors", "11"}).exitCode, 2);
    EXPECT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "HTTP", "--bogus"}).exitCode, 2);
    const CliRun unresolvable = run({"hosts", "add", "--host", "no-such-host.invalid", "--protocol", "HTTP"}, true);
    EXPECT_EQ(unresolvable.exitCode, 2);
    EXPECT_TRUE(unresolvable.err.contains(QStringLiteral("Can't resolve no-such-host.invalid")));
    EXPECT_EQ(run({"hosts", "remove", "7"}).exitCode, 2);
    EXPECT_EQ(run({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(settingsBytes(), before);

    const CliRun help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("hosts add")));
}

TEST_F(MonitorCliTest, OncePollsEveryHostAndExitCodeTellsWhetherAllSucceeded)
{
    ScriptedServer web([](ScriptedConnection& c) {
        c.receiveUntil("\n\n", 3s);
        c.send("HTTP/1.1 200 OK\r\nServer: scripted/2.0\r\nContent-Length: 0\r\n\r\n");
        c.close();
    });
    const QString webPort = QString::number(web.port());
    const QString deadPort = QString::number(FreeLoopbackPort());
    ASSERT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "ECHO", "--nickname", "loop"}).exitCode, 0);
    ASSERT_EQ(run({"hosts", "add", "--host", "localhost", "--protocol", "HTTP", "--port", webPort, "--freq", "5",
                   "--user", "admin", "--password", "pw"})
                  .exitCode,
              0);
    ASSERT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "HTTP", "--port", deadPort, "--float-errors", "2"})
                  .exitCode,
              0);
    ASSERT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "TIME", "--disabled"}).exitCode, 0);

    const CliRun list = run({"hosts", "list"});
    EXPECT_EQ(list.exitCode, 0);
    // Newest first, as the host wizard inserts them.
    const QStringList rows = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 5);
    EXPECT_TRUE(rows[1].startsWith(QStringLiteral("0\t127.0.0.1\t127.0.0.1\tTIME\t37\t120 sec\tno")));
    EXPECT_TRUE(rows[3].startsWith(QStringLiteral("2\tlocalhost\t127.0.0.1\tHTTP\t") + webPort + QStringLiteral("\t5 sec\tyes")));
    EXPECT_TRUE(rows[4].endsWith(QStringLiteral("\tloop")));

    const CliRun once = run({"--once"});
    EXPECT_EQ(once.exitCode, 1) << once.err.toStdString();
    const QStringList lines = once.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << once.out.toStdString();
    EXPECT_TRUE(once.out.contains(QRegularExpression(QStringLiteral("\tOK\tHTTP//localhost:") + webPort +
                                                     QStringLiteral("\t(<10|[0-9]+) msec\tHTTP/1.1 200 OK \\[scripted/2.0\\]"))))
        << once.out.toStdString();
    EXPECT_TRUE(once.out.contains(QStringLiteral("\tFAIL\tHTTP//127.0.0.1:") + deadPort +
                                  QStringLiteral("\tError\tConnect Failed The attempt to connect was forcefully rejected.")));
    EXPECT_TRUE(once.out.contains(QStringLiteral("\tOK\tECHO//127.0.0.1:7\t")));
    EXPECT_FALSE(once.out.contains(QStringLiteral("TIME//")));
    // The probe sent the credentials and the host text as typed.
    ASSERT_FALSE(web.received().empty());
    EXPECT_EQ(web.received()[0], "HEAD / HTTP/1.1\nAccept: text/html\nHOST: localhost\nAuthorization: Basic YWRtaW46cHc=\n"
                                 "Connection: close\n\n");

    ASSERT_EQ(run({"hosts", "remove", "--host", "127.0.0.1"}).exitCode, 0);
    const CliRun good = run({"--once"});
    EXPECT_EQ(good.exitCode, 0) << good.out.toStdString() << good.err.toStdString();
    EXPECT_EQ(good.out.count(QLatin1Char('\n')), 1);
}

TEST_F(MonitorCliTest, DurationAndTerminationStopMonitoringCleanly)
{
    const QString deadPort = QString::number(FreeLoopbackPort());
    ASSERT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "HTTP", "--port", deadPort, "--freq", "1"}).exitCode, 0);
    const CliRun timed = run({"--duration", "3"});
    EXPECT_EQ(timed.exitCode, 0);
    EXPECT_GE(timed.out.count(QStringLiteral("\tFAIL\t")), 2);

    QProcess p;
    p.start(QStringLiteral(QUILLMERE_MONITOR_BIN),
            {QStringLiteral("--settings"), settings(), QStringLiteral("--database"), database()});
    ASSERT_TRUE(p.waitForStarted());
    ASSERT_TRUE(p.waitForReadyRead(10000));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
}

TEST_F(MonitorCliTest, ResultsAreRecordedAndStatusFilesExported)
{
    ScriptedServer web([](ScriptedConnection& c) {
        c.receiveUntil("\n\n", 3s);
        c.send("HTTP/1.1 200 OK\r\nServer: rec/1\r\n\r\n");
        c.close();
    });
    const QString deadPort = QString::number(FreeLoopbackPort());
    ASSERT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "HTTP", "--port", QString::number(web.port()),
                   "--freq", "1"})
                  .exitCode,
              0);
    ASSERT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "HTTP", "--port", deadPort, "--freq", "1"}).exitCode, 0);
    {
        SettingsStore store(settings());
        store.writeInt(QStringLiteral("ConfigXML"), QStringLiteral("ENABLE"), 1);
        store.writeInt(QStringLiteral("ConfigXML"), QStringLiteral("FREQUENCY"), 1);
        store.writeInt(QStringLiteral("ConfigXML"), QStringLiteral("LOCAL_RADIO"), 1);
        store.writeString(QStringLiteral("ConfigXML"), QStringLiteral("LOCAL_FOLDER"), m_dir.path());
    }
    const CliRun monitored = run({"--duration", "6"});
    ASSERT_EQ(monitored.exitCode, 0) << monitored.err.toStdString();
    EXPECT_TRUE(monitored.err.contains(QStringLiteral("Last XML Update: "))) << monitored.err.toStdString();
    EXPECT_TRUE(monitored.err.contains(QStringLiteral("HD FreeSpace ")));
    const QStringList printed = monitored.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(printed.size(), 4);

    // One database row per printed result, with the same values.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(database());
        ASSERT_TRUE(db.open());
        QSqlQuery q(QStringLiteral("SELECT HOST, PROTOCOL, PORT, FREQUENCY, TIME, MESSAGE, FAILURE FROM HISTORY "
                                   "ORDER BY \"INDEX\""),
                    db);
        int rows = 0;
        while (q.next()) {
            ASSERT_LT(rows, printed.size());
            const QStringList fields = printed[rows].split(QLatin1Char('\t'));
            ASSERT_EQ(fields.size(), 5);
            EXPECT_EQ(fields[2], QStringLiteral("%1//%2:%3").arg(q.value(1).toString(), q.value(0).toString(), q.value(2).toString()));
            EXPECT_EQ(q.value(3).toInt(), 1);
            EXPECT_EQ(fields[4], q.value(5).toString());
            const bool failed = q.value(6).toInt() == 1;
            EXPECT_EQ(fields[1], failed ? QStringLiteral("FAIL") : QStringLiteral("OK"));
            if (failed) {
                EXPECT_EQ(q.value(4).toLongLong(), 2147483647LL);
            } else if (fields[3] != QLatin1String("<10 msec")) {
                EXPECT_EQ(fields[3], QStringLiteral("%1 msec").arg(q.value(4).toInt()));
            }
            ++rows;
        }
        EXPECT_EQ(rows, printed.size());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));

    const QString server = QString::fromStdString(ReadFile(m_dir.filePath(QStringLiteral("server.xml")).toStdString()));
    EXPECT_TRUE(server.contains(QStringLiteral("127.0.0.1"))) << server.toStdString();
    EXPECT_TRUE(server.contains(deadPort));
    EXPECT_TRUE(QFile::exists(m_dir.filePath(QStringLiteral("message.xml"))));
}

TEST_F(MonitorCliTest, NotificationOptionsSwitchTheirChannelsOn)
{
    ASSERT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "HTTP", "--mail-to", "ops@lan", "--mail-server",
                   "smtp.lan", "--pager", "555,,1#"})
                  .exitCode,
              0);
    ASSERT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "ECHO", "--sound", "/tmp/a.wav", "--no-notify"})
                  .exitCode,
              0);
    SettingsStore store(settings());
    const auto hosts = LoadHosts(store);
    ASSERT_EQ(hosts.size(), 2u);
    const HostTexts& quiet = hosts[0];
    EXPECT_EQ(quiet[ColNotifySoundFile], QStringLiteral("/tmp/a.wav"));
    EXPECT_EQ(quiet[ColNotifySoundEnable], QStringLiteral("1"));
    EXPECT_EQ(quiet[ColNotifyEnable], QStringLiteral("0"));
    const HostTexts& loud = hosts[1];
    EXPECT_EQ(loud[ColNotifyEnable], QStringLiteral("1"));
    EXPECT_EQ(loud[ColNotifyMailEnable], QStringLiteral("1"));
    EXPECT_EQ(loud[ColNotifyMailAddress], QStringLiteral("ops@lan"));
    EXPECT_EQ(loud[ColNotifyMailServer], QStringLiteral("smtp.lan"));
    EXPECT_EQ(loud[ColNotifyPagerEnable], QStringLiteral("1"));
    EXPECT_EQ(loud[ColNotifyPagerSequence], QStringLiteral("555,,1#"));
    EXPECT_EQ(loud[ColNotifySoundEnable], QStringLiteral("0"));
}

TEST_F(MonitorCliTest, SyslogEntriesReceiveRecordsFromTheirSenderOnly)
{
    ASSERT_EQ(RequireProgram("/usr/bin/logger", "bsdutils"), "");
    ASSERT_EQ(run({"hosts", "add", "--host", "127.0.0.1", "--protocol", "SYSLOG"}).exitCode, 0);
    const QString port = QString::number(FreeLoopbackPort(true));
    QProcess monitor;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUILLMERE_SYSLOG_PORT"), port);
    monitor.setProcessEnvironment(env);
    monitor.start(QStringLiteral(QUILLMERE_MONITOR_BIN), {QStringLiteral("--settings"), settings(), QStringLiteral("--database"),
                                                          database(), QStringLiteral("--duration"), QStringLiteral("4")});
    ASSERT_TRUE(monitor.waitForStarted());
    // The listener binds right after the start line on stderr.
    monitor.setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(monitor.waitForReadyRead(5000));
    QThread::msleep(300);
    auto send = [&](const QStringList& extra) {
        QStringList args{QStringLiteral("-n"), QStringLiteral("127.0.0.1"), QStringLiteral("-P"), port, QStringLiteral("-d")};
        EXPECT_EQ(QProcess::execute(QStringLiteral("/usr/bin/logger"), args + extra), 0);
    };
    send({QStringLiteral("-p"), QStringLiteral("user.err"), QStringLiteral("disk failing")});
    send({QStringLiteral("--rfc3164"), QStringLiteral("-p"), QStringLiteral("local7.err"), QStringLiteral("async line")});
    send({QStringLiteral("-p"), QStringLiteral("syslog.info"), QStringLiteral("all good")});
    // A sender that no SYSLOG entry names changes nothing.
    const QString stranger = QStringLiteral(
        "import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(('127.0.0.5', 0)); "
        "s.sendto(b'<11>from a stranger', ('127.0.0.1', %1))").arg(port);
    EXPECT_EQ(QProcess::execute(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), stranger}), 0);
    ASSERT_TRUE(monitor.waitForFinished(15000));
    EXPECT_EQ(monitor.exitCode(), 0);
    const QString out = QString::fromLocal8Bit(monitor.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QRegularExpression(QStringLiteral("\tFAIL\tSYSLOG//127.0.0.1:514\tError\t\\[3_ERROR\\]\\[USER\\]: .*disk failing"))))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QRegularExpression(QStringLiteral("\tOK\tSYSLOG//127.0.0.1:514\t<10 msec\t\\[3_NORMAL\\]\\[CISCO ASYNC\\]: .*async line"))));
    EXPECT_TRUE(out.contains(QRegularExpression(QStringLiteral("\tOK\t.*\\[6_INFO\\]\\[SYSLOGD\\]: .*all good"))));
    EXPECT_FALSE(out.contains(QStringLiteral("stranger")));
    EXPECT_EQ(out.count(QLatin1Char('\n')), 3);
}

TEST_F(MonitorCliTest, TraceRoutePrintsTheReport)
{
    const CliRun trace = run({"traceroute", "127.0.0.1"});
    EXPECT_EQ(trace.exitCode, 0);
    EXPECT_TRUE(trace.out.startsWith(QStringLiteral("Tracing Route to [127.0.0.1]\n")));
    EXPECT_TRUE(trace.out.contains(QStringLiteral("TTL_01\t")));
    EXPECT_EQ(run({"traceroute"}).exitCode, 2);
}

} // namespace
} // namespace qm::test
