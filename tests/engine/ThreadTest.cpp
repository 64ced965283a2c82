// Monitoring with real worker threads: start, stop, restart, pacing and the
// syslog listener's place, with events delivered through the Qt event loop.

#include "EngineFixture.h"

#include "engine/HostSession.h"
#include "platform/ThreadId.h"
#include "support/RecordingPrompt.h"
#include "support/ScriptedServer.h"
#include "support/ServerProcess.h"

#include <atomic>
#include <future>

namespace qm::test {
namespace {

using namespace std::chrono_literals;

class ThreadTest : public EngineFixture
{
protected:
    ThreadTest()
    {
        // The listener of the first SYSLOG row, if any.
        m_listener = [this](HostSession& session, EngineEvents&) {
            ++m_listeners;
            m_listenerThread = CurrentThreadId();
            while (!session.stopRequested())
                session.wakeEvent().wait(1000);
        };
        QObject::connect(&controller(), &MonitorController::threadStatusChanged,
                         [this](uint32_t tid, int code) {
                             m_statuses.push_back({tid, code});
                         });
        QObject::connect(&controller(), &MonitorController::resultHandled,
                         [this](const PollReport& r) { m_results.push_back(r); });
    }
    ~ThreadTest() override { stopMonitoring(); } // before the recorded lists go
    int resultsFor(uint32_t tid) const
    {
        int n = 0;
        for (const auto& r : m_results)
            n += r.threadId == tid;
        return n;
    }
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

// An HTTP server that answers only once the test lets it, so a probe is
// surely under way while the test stops or restarts monitoring.
struct HeldHttpServer
{
    std::atomic<bool> asked{false};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    ScriptedServer server{[this](ScriptedConnection& c) {
        c.receiveUntil("\n\n", 3s);
        asked = true;
        released.wait_for(10s);
        c.send("HTTP/1.1 200 OK\r\nServer: held/1\r\n\r\n");
    }};
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

TEST_F(ThreadTest, StopDuringAProbeStillAppliesItsResult)
{
    HeldHttpServer held;
    addRow(MakeRow("127.0.0.1", "HTTP", held.server.port(), 60));
    controller().OnMonitoringStart();
    const uint32_t tid = m_hosts.itemData(0);
    ASSERT_TRUE(PumpEventsUntil([&] { return held.asked && working(0); }, 5s));
    controller().OnMonitoringStop();
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), "Stopping...");
    held.release.set_value();

    ASSERT_TRUE(PumpEventsUntil([&] { return controller().liveThreads() == 0; }, 15s));
    ASSERT_EQ(resultsFor(tid), 1);
    EXPECT_TRUE(m_results[0].success);
    EXPECT_EQ(m_hosts.text(0, ColMessage), "HTTP/1.1 200 OK [held/1]");
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), "Stopped...");
    // Start's Sleeping, the probe's Working, Stop's Stopping, then the worker's
    // own Sleeping and Stopping, and Stopped from the thread-ended handler.
    EXPECT_EQ(statusesFor(tid), (std::vector<int>{StatusSleeping, StatusWorking, StatusStopping,
                                                  StatusSleeping, StatusStopping, StatusStopped}));
}

TEST_F(ThreadTest, StartRightAfterStopGivesNewIdentifiersAndOldEventsMatchNothing)
{
    HeldHttpServer held;
    addRow(MakeRow("127.0.0.1", "HTTP", held.server.port(), 60));
    controller().OnMonitoringStart();
    const uint32_t first = m_hosts.itemData(0);
    ASSERT_TRUE(PumpEventsUntil([&] { return held.asked && working(0); }, 5s));
    controller().OnMonitoringStop();
    controller().OnMonitoringStart();
    const uint32_t second = m_hosts.itemData(0);
    EXPECT_NE(first, second);
    EXPECT_EQ(controller().liveThreads(), 2);
    held.release.set_value();

    // The old worker's late result is recorded but changes no row.
    ASSERT_TRUE(PumpEventsUntil([&] { return resultsFor(first) == 1; }, 10s));
    const auto late = std::find_if(m_results.begin(), m_results.end(),
                                   [&](auto& r) { return r.threadId == first; });
    EXPECT_EQ(late->row, -1);
    ASSERT_TRUE(PumpEventsUntil([&] { return controller().liveThreads() == 1; }, 10s));
    EXPECT_NE(m_hosts.text(0, ColThreadStatus), "Stopped...");
}

TEST_F(ThreadTest, ZeroSecondFrequencyPollsBackToBack)
{
    addRow(MakeRow("127.0.0.1", "HTTP", FreeLoopbackPort(), 0));
    controller().OnMonitoringStart();
    const uint32_t tid = m_hosts.itemData(0);
    EXPECT_TRUE(PumpEventsUntil([&] { return resultsFor(tid) >= 20; }, 5s));
}

TEST_F(ThreadTest, FirstSyslogRowGetsTheListenerTheSecondAnIdleWorker)
{
    addRow(MakeRow("10.1.1.1", "SYSLOG", 514, 0));
    addRow(MakeRow("10.1.1.2", "SYSLOG", 514, 0));
    addRow(MakeRow("127.0.0.1", "http", 80, 0)); // no such protocol

    controller().OnMonitoringStart();
    ASSERT_TRUE(PumpEventsUntil([&] { return m_listeners.load() == 1; }, 5s));
    EXPECT_EQ(m_listenerThread.load(), m_hosts.itemData(0));
    const uint32_t idle = m_hosts.itemData(1);
    const uint32_t lower = m_hosts.itemData(2);
    // Idle workers keep cycling, paced, without ever reporting a result.
    ASSERT_TRUE(PumpEventsUntil(
        [&] { return statusesFor(idle).size() >= 5 && statusesFor(lower).size() >= 5; }, 5s));
    EXPECT_LT(statusesFor(idle).size(), 20u);
    EXPECT_TRUE(m_results.empty());
    EXPECT_EQ(m_hosts.text(1, ColPolls), "0");

    ASSERT_TRUE(stopMonitoring());
    EXPECT_EQ(m_listeners.load(), 1);
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), "Stopped...");
}

TEST_F(ThreadTest, WorkersUseTheConfiguredDnsNameAndReachTheOperator)
{
    // A numeric query name this long cannot be an address: the DNS probe
    // tells the operator from its worker thread.
    m_settings.writeString("ConfigDNS", "QUERY_NAME", QString(242, QLatin1Char('1')));
    ScriptedPrompt prompt;
    MonitorController::Services services;
    services.recorder = &m_recorder;
    services.workerPrompt = &prompt;
    MonitorController controller(m_hosts, m_settings, services);
    addRow(MakeRow("127.0.0.1", "DNS", FreeLoopbackPort(true), 60));
    controller.OnMonitoringStart();
    EXPECT_TRUE(PumpEventsUntil([&] { return !prompt.texts().empty(); }, 5s));
    controller.OnMonitoringStop();
    ASSERT_TRUE(PumpEventsUntil([&] { return controller.liveThreads() == 0; }, 30s));
    ASSERT_FALSE(prompt.texts().empty());
    EXPECT_EQ(prompt.texts()[0], "DNS: Invalid address");
}

TEST(HostSessionTest, AWakeBeforeTheWaitIsNotLost)
{
    HostSession s;
    for (int i = 0; i < 2; ++i) {
        s.setStopRequested(true);
        s.signalWake();
    }
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(s.wakeEvent().wait(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

} // namespace
} // namespace qm::test
