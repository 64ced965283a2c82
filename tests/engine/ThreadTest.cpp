// Monitoring with real worker threads: start, stop, restart, pacing and the
// syslog listener's place, with events delivered through the Qt event loop.

#include "EngineFixture.h"

#include "engine/HostSession.h"
#include "engine/StagedRun.h"
#include "engine/SyslogThread.h"
#include "platform/CancelToken.h"
#include "platform/ThreadId.h"
#include "store/ResultsDatabase.h"
#include "store/StatusXml.h"
#include "support/RecordingPrompt.h"
#include "support/ScriptedServer.h"
#include "support/ServerProcess.h"
#include "support/StrictXml.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <sys/socket.h>
#include <thread>

namespace qm::test {
namespace {

using namespace std::chrono_literals;

class ThreadTest : public EngineFixture
{
protected:
    ThreadTest()
    {
        // The listener of the first SYSLOG row, if any.
        m_listener = [this](HostSession& session, EngineEvents& events) {
            ++m_listeners;
            m_listenerThread = CurrentThreadId();
            RunSyslogListener(session, events, m_prompt);
        };
        QObject::connect(&controller(), &MonitorController::threadStatusChanged,
                         [this](uint32_t tid, int code) {
                             m_statuses.push_back({tid, code});
                         });
        QObject::connect(&controller(), &MonitorController::resultHandled,
                         [this](const PollReport& r) { m_results.push_back(r); });
    }
    ~ThreadTest() override { stopMonitoring(); } // before the recorded lists go
    long resultsFor(uint32_t tid) const { return std::ranges::count(m_results, tid, &PollReport::threadId); }
    std::vector<int> statusesFor(uint32_t tid) const
    {
        std::vector<int> out;
        for (const auto& [t, c] : m_statuses)
            if (t == tid)
                out.push_back(c);
        return out;
    }

    bool working(int row) const { return m_hosts.text(row, ColThreadStatus) == "Working..."; }

    std::vector<std::pair<uint32_t, int>> m_statuses;
    std::vector<PollReport> m_results;
    std::atomic<int> m_listeners{0};
    std::atomic<uint32_t> m_listenerThread{0};
};

TEST_F(ThreadTest, StartPollsEnabledRowsAndStopEndsEveryWorker)
{
    const int refused = FreeLoopbackPort();
    addRow(MakeRow("127.0.0.1", "HTTP", refused, 1));
    HostTexts off = MakeRow("127.0.0.1", "HTTP", refused, 1);
    off[ColEnabled] = "0";
    const int disabled = addRow(off);
    m_hosts.setItemData(disabled, 1); // a stale load position
    m_hosts.setText(0, ColFloatStat, "1");

    controller().OnMonitoringStart();
    EXPECT_TRUE(controller().isMonitoring());
    const uint32_t tid = m_hosts.itemData(0);
    EXPECT_NE(tid, 0u);
    EXPECT_EQ(m_hosts.itemData(disabled), 0u); // cleared: never matches a thread
    EXPECT_EQ(m_hosts.text(0, ColFloatStat), "0");
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), "Sleeping...");
    EXPECT_EQ(controller().liveThreads(), 1);

    ASSERT_TRUE(PumpEventsUntil([&] { return resultsFor(tid) >= 2; }, 10s));
    EXPECT_FALSE(m_results[0].success);
    EXPECT_EQ(m_results[0].message,
              "Connect Failed The attempt to connect was forcefully rejected.");
    EXPECT_EQ(m_hosts.text(0, ColMessage), m_results[0].message);

    controller().OnMonitoringStop();
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), "Stopping...");
    EXPECT_EQ(m_hosts.image(0), kHealthStopping);
    ASSERT_TRUE(PumpEventsUntil([&] { return controller().liveThreads() == 0; }, 15s));
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), "Stopped...");
    EXPECT_EQ(m_hosts.image(0), kHealthNoResult);
    EXPECT_EQ(m_hosts.text(1, ColThreadStatus), "Stopped...");
    EXPECT_TRUE(statusesFor(0).empty());
}

// More rows than one start group. The groups after the first go as batches
// are handled; a Stop that comes before any batch ends those still waiting,
// before they ever start a poll.
TEST_F(ThreadTest, AStartOfManyRowsGoesGroupByGroupAndAStopEndsThoseStillWaiting)
{
    const int rows = static_cast<int>(StagedRun::kGroupSize) + 10;
    for (int i = 0; i < rows; ++i)
        addRow(MakeRow("127.0.0.1", "NONE", 7, 60)); // names no probe: only status events
    controller().OnMonitoringStart();
    const uint32_t last = m_hosts.itemData(rows - 1);
    ASSERT_TRUE(stopMonitoring());
    EXPECT_EQ(statusesFor(last), (std::vector<int>{StatusSleeping, StatusStopping, StatusStopping, StatusStopped}));

    controller().OnMonitoringStart();
    std::vector<uint32_t> tids;
    for (int r = 0; r < rows; ++r)
        tids.push_back(m_hosts.itemData(r));
    EXPECT_TRUE(PumpEventsUntil([&] {
        return std::ranges::all_of(tids, [&](uint32_t t) { return std::ranges::count(statusesFor(t), StatusWorking) > 0; });
    }, 10s));
}

// The first connection trickles a byte every 100 ms and never ends a line,
// which would hold an HTTP probe for its whole 30 s bound; later ones answer.
TEST_F(ThreadTest, StopEndsAProbeStuckOnATricklingPeerAndTheNextRunPollsAfresh)
{
    std::atomic<bool> trickling{false};
    ScriptedServer server([&](ScriptedConnection& c) {
        c.receiveUntil("\r\n\r\n", 3s);
        if (trickling.exchange(true)) {
            c.send("HTTP/1.1 200 OK\r\nServer: second/1\r\n\r\n");
            return;
        }
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < until && ::send(c.fd(), "x", 1, MSG_NOSIGNAL) == 1)
            std::this_thread::sleep_for(100ms);
    });
    addRow(MakeRow("127.0.0.1", "HTTP", server.port(), 60));
    controller().OnMonitoringStart();
    const uint32_t first = m_hosts.itemData(0);
    ASSERT_TRUE(PumpEventsUntil([&] { return trickling && working(0); }, 5s));

    const auto stopped = std::chrono::steady_clock::now();
    controller().OnMonitoringStop();
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), "Stopping...");
    controller().OnMonitoringStart();
    const uint32_t second = m_hosts.itemData(0);
    EXPECT_NE(first, second);
    ASSERT_TRUE(PumpEventsUntil([&] { return controller().liveThreads() == 1; }, 12s));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 3s);
    // The stopped probe reports nothing; the old worker's statuses match no
    // row: Start's Sleeping, the probe's Working, Stop's Stopping, then its
    // own Sleeping and Stopping, and Stopped from the thread-ended handler.
    EXPECT_EQ(resultsFor(first), 0);
    EXPECT_EQ(statusesFor(first), (std::vector<int>{StatusSleeping, StatusWorking, StatusStopping,
                                                    StatusSleeping, StatusStopping, StatusStopped}));
    EXPECT_NE(m_hosts.text(0, ColThreadStatus), "Stopped...");

    // The new run's workers are not stopped by the old run's stop.
    ASSERT_TRUE(PumpEventsUntil([&] { return resultsFor(second) == 1; }, 10s));
    EXPECT_EQ(m_hosts.text(0, ColMessage), "HTTP/1.1 200 OK [second/1]");
}

TEST_F(ThreadTest, ZeroSecondFrequencyPollsBackToBack)
{
    addRow(MakeRow("127.0.0.1", "HTTP", FreeLoopbackPort(), 0));
    controller().OnMonitoringStart();
    const uint32_t tid = m_hosts.itemData(0);
    EXPECT_TRUE(PumpEventsUntil([&] { return resultsFor(tid) >= 20; }, 5s));
}

// The first SYSLOG row's worker runs the listener on that row's port; later
// SYSLOG rows, like rows of an unknown protocol, get paced idle workers. A
// record goes to the first SYSLOG row whose address is the sender and to no
// other: not another protocol's row of that address, not a later SYSLOG row
// of it; a sender without a row changes nothing. Datagrams are handled in
// order, so once the last one shows, the others have been handled.
TEST_F(ThreadTest, SyslogRecordsUpdateOnlyTheSendersFirstSyslogRowAndOthersIdle)
{
    const int port = FreeLoopbackPort(true);
    HostTexts web = MakeRow("127.0.0.1", "HTTP", 80, 0);
    web[ColEnabled] = "0";
    for (const HostTexts& row :
         {MakeRow("127.0.0.2", "SYSLOG", port, 0), web, MakeRow("127.0.0.1", "SYSLOG", 514, 0),
          MakeRow("127.0.0.3", "SYSLOG", 514, 0), MakeRow("127.0.0.1", "SYSLOG", 514, 0),
          MakeRow("127.0.0.1", "http", 80, 0)}) // no such protocol
        addRow(row);
    controller().OnMonitoringStart();
    ASSERT_TRUE(WaitForUdpPort(port, 5s));
    EXPECT_EQ(m_listenerThread.load(), m_hosts.itemData(0));
    for (const auto& [from, datagram] : std::vector<std::pair<std::string, std::string>>{
             {"127.0.0.9", "<11>no row"},
             {"127.0.0.1", "<11>disk full"},
             {"127.0.0.3", "<14>caf\xe9 open"},
             {"127.0.0.2", "<13>last"}})
        ASSERT_TRUE(SendLoopbackDatagram(port, datagram, from));
    const uint32_t idle = m_hosts.itemData(4), lower = m_hosts.itemData(5);
    ASSERT_TRUE(PumpEventsUntil(
        [&] {
            return m_hosts.text(0, ColPolls) == "1" && statusesFor(idle).size() >= 5 &&
                   statusesFor(lower).size() >= 5;
        },
        5s));
    EXPECT_LT(statusesFor(idle).size(), 20u);

    const QString none = MakeRow("x", "SYSLOG", 514)[ColMessage];
    const std::vector<QStringList> expected{
        {"1", "0", "[5_NORMAL][USER]: last"},
        {"0", "0", none},
        {"1", "1", "[3_ERROR][USER]: disk full"},
        {"1", "0", QString::fromUtf8("[6_INFO][USER]: caf\u00e9 open")},
        {"0", "0", none},
        {"0", "0", none},
    };
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(QStringList({m_hosts.text(r, ColPolls), m_hosts.text(r, ColFailures),
                               m_hosts.text(r, ColMessage)}),
                  expected[static_cast<std::size_t>(r)])
            << "row " << r;
    EXPECT_EQ(m_recorder.rows.size(), 3u);
    ASSERT_TRUE(stopMonitoring());
    EXPECT_EQ(m_listeners.load(), 1);
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), "Stopped...");
    EXPECT_TRUE(m_prompt.texts().empty());
}

// A peer's bytes are UTF-8 when they are valid UTF-8 and Latin-1 otherwise:
// both servers' "café ÿ" reach the row, the results database and a strict
// XML parser reading the export as the same characters.
TEST_F(ThreadTest, PeerBytesThatAreNotUtf8ReachRowDatabaseAndXmlIntact)
{
    ResultsDatabase db(m_prompt);
    ASSERT_TRUE(db.openFile(m_dir.filePath("results.mdb")));
    MonitorController::Services services;
    services.recorder = &db;
    MonitorController controller(m_hosts, m_settings, services);
    std::vector<std::unique_ptr<ScriptedServer>> servers;
    for (const std::string name : {"caf\xe9 \xff", "caf\xc3\xa9 \xc3\xbf"}) {
        servers.push_back(std::make_unique<ScriptedServer>([name](ScriptedConnection& c) {
            c.receiveUntil("\r\n\r\n", 3s);
            c.send("HTTP/1.1 200 OK\r\nServer: " + name + "\r\n\r\n");
        }));
        addRow(MakeRow("127.0.0.1", "HTTP", servers.back()->port(), 60));
    }
    controller.OnMonitoringStart();
    ASSERT_TRUE(PumpEventsUntil(
        [&] { return m_hosts.text(0, ColPolls) == "1" && m_hosts.text(1, ColPolls) == "1"; }, 10s));
    controller.OnMonitoringStop();
    ASSERT_TRUE(PumpEventsUntil([&] { return controller.liveThreads() == 0; }, 10s));

    const QString expected = QString::fromUtf8("HTTP/1.1 200 OK [caf\u00e9 \u00ff]");
    EXPECT_EQ(QStringList({m_hosts.text(0, ColMessage), m_hosts.text(1, ColMessage)}),
              QStringList({expected, expected}));
    ASSERT_TRUE(db.flush());
    QSqlQuery query(db.GetDatabase());
    QStringList history;
    for (query.exec("SELECT MESSAGE FROM HISTORY"); query.next();)
        history << query.value(0).toString();
    EXPECT_EQ(history, QStringList({expected, expected}));
    EXPECT_EQ(StrictXmlTexts(StatusXml::ServerDocument({{0, m_hosts.texts(0)}, {0, m_hosts.texts(1)}}),
                             "message"),
              QStringList({expected, expected}));
    EXPECT_TRUE(m_prompt.texts().empty());
}

TEST_F(ThreadTest, WorkersUseTheConfiguredDnsNameAndReachTheOperator)
{
    // A numeric query name this long cannot be an address: the DNS probe
    // tells the operator from its worker thread.
    m_settings.writeString("ConfigDNS", "QUERY_NAME", QString(242, QLatin1Char('1')));
    addRow(MakeRow("127.0.0.1", "DNS", FreeLoopbackPort(true), 60));
    controller().OnMonitoringStart();
    EXPECT_TRUE(PumpEventsUntil([&] { return !m_prompt.texts().empty(); }, 5s));
    ASSERT_TRUE(stopMonitoring());
    ASSERT_FALSE(m_prompt.texts().empty());
    EXPECT_EQ(m_prompt.texts()[0], "DNS: Invalid address");
}

TEST(WakeEventTest, AWakeBeforeTheSleepIsNotLostAndASleepEndsOnTime)
{
    CancelToken wake;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(wake.waitFor(30));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    wake.cancel();
    wake.cancel();
    EXPECT_TRUE(wake.waitFor(60000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

} // namespace
} // namespace qm::test
