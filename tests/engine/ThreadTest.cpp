// Monitoring with real worker threads: start, stop, restart, pacing and the
// syslog listener's place, with events delivered through the Qt event loop.

#include "EngineFixture.h"

#include "engine/HostSession.h"
#include "platform/OperatorPrompt.h"
#include "platform/ThreadId.h"
#include "support/ScriptedServer.h"
#include "support/ServerProcess.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace qm::test {
namespace {

using namespace std::chrono_literals;

class ThreadTest : public EngineFixture
{
protected:
    ThreadTest()
    {
        QObject::connect(&controller(), &MonitorController::threadStatusChanged,
                         [this](uint32_t tid, int code) { m_statuses.push_back({tid, code}); });
        QObject::connect(&controller(), &MonitorController::resultHandled,
                         [this](const PollReport& r) { m_results.push_back(r); });
    }
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

    std::vector<std::pair<uint32_t, int>> m_statuses;
    std::vector<PollReport> m_results;
};

TEST_F(ThreadTest, StartPollsEnabledRowsAndStopEndsEveryWorker)
{
    const int refused = FreeLoopbackPort();
    addRow(MakeRow(QStringLiteral("127.0.0.1"), QStringLiteral("HTTP"), refused, 1));
    HostTexts off = MakeRow(QStringLiteral("127.0.0.1"), QStringLiteral("HTTP"), refused, 1);
    off[ColEnabled] = QStringLiteral("0");
    const int disabled = addRow(off);
    m_hosts.setItemData(disabled, 1); // a stale load position
    m_hosts.setText(0, ColFloatStat, QStringLiteral("1"));

    controller().OnMonitoringStart();
    EXPECT_TRUE(controller().isMonitoring());
    const uint32_t tid = m_hosts.itemData(0);
    EXPECT_NE(tid, 0u);
    EXPECT_EQ(m_hosts.itemData(disabled), 0u); // cleared: never matches a thread
    EXPECT_EQ(m_hosts.text(0, ColFloatStat), QStringLiteral("0"));
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), QStringLiteral("Sleeping..."));
    EXPECT_EQ(controller().liveThreads(), 1);

    ASSERT_TRUE(WaitUntil([&] { return resultsFor(tid) >= 2; }, 10s));
    EXPECT_FALSE(m_results[0].success);
    EXPECT_EQ(m_results[0].message,
              QStringLiteral("Connect Failed The attempt to connect was forcefully rejected."));
    EXPECT_EQ(m_hosts.text(0, ColMessage), m_results[0].message);

    controller().OnMonitoringStop();
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), QStringLiteral("Stopping..."));
    EXPECT_EQ(m_hosts.image(0), kHealthStopping);
    ASSERT_TRUE(WaitUntil([&] { return controller().liveThreads() == 0; }, 15s));
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), QStringLiteral("Stopped..."));
    EXPECT_EQ(m_hosts.image(0), kHealthNoResult);
    EXPECT_EQ(m_hosts.text(1, ColThreadStatus), QStringLiteral("Stopped..."));
    EXPECT_TRUE(statusesFor(0).empty());
}

TEST_F(ThreadTest, StopDuringLongProbeStillAppliesItsResult)
{
    ScriptedServer slow([](ScriptedConnection& c) {
        c.receiveUntil("\n\n", 3s);
        std::this_thread::sleep_for(1500ms);
        c.send("HTTP/1.1 200 OK\r\nServer: slow/1\r\n\r\n");
    });
    addRow(MakeRow(QStringLiteral("127.0.0.1"), QStringLiteral("HTTP"), slow.port(), 60));
    controller().OnMonitoringStart();
    const uint32_t tid = m_hosts.itemData(0);
    ASSERT_TRUE(WaitUntil([&] { return m_hosts.text(0, ColThreadStatus) == QLatin1String("Working..."); }, 5s));
    std::this_thread::sleep_for(200ms);
    controller().OnMonitoringStop();
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), QStringLiteral("Stopping..."));

    ASSERT_TRUE(WaitUntil([&] { return controller().liveThreads() == 0; }, 15s));
    ASSERT_EQ(resultsFor(tid), 1);
    EXPECT_TRUE(m_results[0].success);
    EXPECT_EQ(m_hosts.text(0, ColMessage), QStringLiteral("HTTP/1.1 200 OK [slow/1]"));
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), QStringLiteral("Stopped..."));
    // Start's Sleeping, the probe's Working, Stop's Stopping, then the worker's
    // own Sleeping and Stopping, and Stopped from the thread-ended handler.
    EXPECT_EQ(statusesFor(tid), (std::vector<int>{StatusSleeping, StatusWorking, StatusStopping, StatusSleeping,
                                                  StatusStopping, StatusStopped}));
}

TEST_F(ThreadTest, StartRightAfterStopGivesNewIdentifiersAndOldEventsMatchNothing)
{
    ScriptedServer slow([](ScriptedConnection& c) {
        c.receiveUntil("\n\n", 3s);
        std::this_thread::sleep_for(800ms);
        c.send("HTTP/1.1 200 OK\r\nServer: s\r\n\r\n");
    });
    addRow(MakeRow(QStringLiteral("127.0.0.1"), QStringLiteral("HTTP"), slow.port(), 60));
    controller().OnMonitoringStart();
    const uint32_t first = m_hosts.itemData(0);
    ASSERT_TRUE(WaitUntil([&] { return m_hosts.text(0, ColThreadStatus) == QLatin1String("Working..."); }, 5s));
    controller().OnMonitoringStop();
    controller().OnMonitoringStart();
    const uint32_t second = m_hosts.itemData(0);
    EXPECT_NE(first, second);
    EXPECT_EQ(controller().liveThreads(), 2);

    // The old worker's late result is recorded but changes no row.
    ASSERT_TRUE(WaitUntil([&] { return resultsFor(first) == 1; }, 10s));
    const auto late = std::find_if(m_results.begin(), m_results.end(), [&](auto& r) { return r.threadId == first; });
    EXPECT_EQ(late->row, -1);
    ASSERT_TRUE(WaitUntil([&] { return controller().liveThreads() == 1; }, 10s));
    EXPECT_NE(m_hosts.text(0, ColThreadStatus), QStringLiteral("Stopped..."));
    controller().OnMonitoringStop();
    ASSERT_TRUE(WaitUntil([&] { return controller().liveThreads() == 0; }, 15s));
}

TEST_F(ThreadTest, ZeroSecondFrequencyPollsBackToBack)
{
    addRow(MakeRow(QStringLiteral("127.0.0.1"), QStringLiteral("HTTP"), FreeLoopbackPort(), 0));
    controller().OnMonitoringStart();
    const uint32_t tid = m_hosts.itemData(0);
    EXPECT_TRUE(WaitUntil([&] { return resultsFor(tid) >= 20; }, 5s));
    controller().OnMonitoringStop();
    ASSERT_TRUE(WaitUntil([&] { return controller().liveThreads() == 0; }, 15s));
}

TEST_F(ThreadTest, FirstSyslogRowGetsTheListenerTheSecondAnIdleWorker)
{
    std::atomic<int> listeners{0};
    std::atomic<uint32_t> listenerThread{0};
    m_listener = [&](HostSession& session, EngineEvents&) {
        ++listeners;
        listenerThread = CurrentThreadId();
        while (!session.stopRequested())
            session.wakeEvent().wait(1000);
    };
    m_controller.reset();
    QObject::connect(&controller(), &MonitorController::threadStatusChanged,
                     [this](uint32_t tid, int code) { m_statuses.push_back({tid, code}); });
    addRow(MakeRow(QStringLiteral("10.1.1.1"), QStringLiteral("SYSLOG"), 514, 0));
    addRow(MakeRow(QStringLiteral("10.1.1.2"), QStringLiteral("SYSLOG"), 514, 0));
    addRow(MakeRow(QStringLiteral("127.0.0.1"), QStringLiteral("http"), 80, 0)); // no such protocol

    controller().OnMonitoringStart();
    ASSERT_TRUE(WaitUntil([&] { return listeners.load() == 1; }, 5s));
    EXPECT_EQ(listenerThread.load(), m_hosts.itemData(0));
    const uint32_t idle = m_hosts.itemData(1);
    const uint32_t lower = m_hosts.itemData(2);
    // Idle workers keep cycling, paced, without ever reporting a result.
    ASSERT_TRUE(WaitUntil([&] { return statusesFor(idle).size() >= 5 && statusesFor(lower).size() >= 5; }, 5s));
    EXPECT_LT(statusesFor(idle).size(), 20u);
    EXPECT_TRUE(m_results.empty());
    EXPECT_EQ(m_hosts.text(1, ColPolls), QStringLiteral("0"));

    controller().OnMonitoringStop();
    ASSERT_TRUE(WaitUntil([&] { return controller().liveThreads() == 0; }, 15s));
    EXPECT_EQ(listeners.load(), 1);
    EXPECT_EQ(m_hosts.text(0, ColThreadStatus), QStringLiteral("Stopped..."));
}

// Records operator messages from any thread.
class ThreadSafePrompt : public OperatorPrompt
{
public:
    void inform(Icon, const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_texts.push_back(text);
    }
    bool confirm(const std::string&) override { return false; }
    std::vector<std::string> texts()
    {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

TEST_F(ThreadTest, WorkersUseTheConfiguredDnsNameAndReachTheOperator)
{
    // A numeric query name this long cannot be an address: the DNS probe
    // tells the operator from its worker thread.
    m_settings->writeString(QStringLiteral("ConfigDNS"), QStringLiteral("QUERY_NAME"), QString(242, QLatin1Char('1')));
    ThreadSafePrompt prompt;
    MonitorController::Services services;
    services.recorder = &m_recorder;
    services.workerPrompt = &prompt;
    MonitorController controller(m_hosts, *m_settings, services);
    addRow(MakeRow(QStringLiteral("127.0.0.1"), QStringLiteral("DNS"), FreeLoopbackPort(true), 60));
    controller.OnMonitoringStart();
    EXPECT_TRUE(WaitUntil([&] { return !prompt.texts().empty(); }, 5s));
    controller.OnMonitoringStop();
    ASSERT_TRUE(WaitUntil([&] { return controller.liveThreads() == 0; }, 30s));
    ASSERT_FALSE(prompt.texts().empty());
    EXPECT_EQ(prompt.texts()[0], "DNS: Invalid address");
}

TEST_F(ThreadTest, AWorkerThatCannotBeCreatedLeavesItsRowStoppedWithTheReason)
{
    MonitorController::Services services;
    services.recorder = &m_recorder;
    services.startThread = [](std::function<void()>) {
        ThreadStart refused;
        refused.error = "Resource temporarily unavailable";
        return refused;
    };
    MonitorController controller(m_hosts, *m_settings, services);
    const int row = addRow(MakeRow(QStringLiteral("127.0.0.1"), QStringLiteral("HTTP"), 80, 60));
    m_hosts.setItemData(row, 5); // a stale number must not survive
    controller.OnMonitoringStart();
    EXPECT_EQ(controller.liveThreads(), 0);
    EXPECT_EQ(m_hosts.itemData(row), 0u);
    EXPECT_EQ(m_hosts.text(row, ColThreadStatus), QStringLiteral("Stopped..."));
    EXPECT_EQ(m_hosts.text(row, ColMessage), QStringLiteral("Cannot start a worker thread: Resource temporarily unavailable"));
    EXPECT_EQ(m_hosts.text(row, ColFailures), QStringLiteral("1"));
    EXPECT_EQ(m_hosts.text(row, ColResponseTime), QStringLiteral("Error"));
    ASSERT_EQ(m_recorder.rows.size(), 1u);
    EXPECT_EQ(m_recorder.rows[0].host, QStringLiteral("127.0.0.1"));
    controller.OnMonitoringStop();
    EXPECT_EQ(m_hosts.text(row, ColThreadStatus), QStringLiteral("Stopped..."));
}

TEST(HostSessionTest, SettersGettersAndRepeatedStopAreSafe)
{
    HostSession s;
    EXPECT_FALSE(s.stopRequested());
    s.SetAll("host", "HTTP", 8080, 60, "user", "secret", "@lan");
    EXPECT_EQ(s.address(), "host");
    EXPECT_EQ(s.port(), 8080);
    EXPECT_EQ(s.frequency(), 60);
    EXPECT_EQ(s.password(), "secret");
    for (int i = 0; i < 2; ++i) {
        s.setStopRequested(true);
        s.signalWake();
    }
    EXPECT_TRUE(s.stopRequested());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(s.wakeEvent().wait(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

} // namespace
} // namespace qm::test
