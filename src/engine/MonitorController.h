#pragma once

#include "engine/EngineEventQueue.h"
#include "engine/EngineServices.h"
#include "engine/StagedRun.h"
#include "platform/WorkerThread.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace qm {

class CancelToken;
class HostListModel;
class HostSession;
class MessagePaneModel;
class MetricsRegistry;
class OperatorPrompt;
class SettingsStore;

// What the handlers did with one result, for whoever prints or logs it.
struct PollReport
{
    bool success = false;
    uint32_t threadId = 0; // the reporting thread
    int row = -1; // -1: the result matched no row
    QString host;
    QString protocol;
    QString port;
    QString responseText; // "<10 msec", "%d msec" or "Error"
    QString message;      // the result's own message
};

// Monitoring control and the engine's event handlers. Lives on the main
// thread; workers reach it only through events(), whose deliveries are queued
// to this object's thread in each sender's order.
class MonitorController : public QObject
{
    Q_OBJECT

public:
    // Runs the syslog listener on its own thread until the session's stop flag
    // is set; records go out through EngineEvents::postSyslog.
    using SyslogListener = std::function<void(HostSession& session, EngineEvents& events)>;

    struct Services
    {
        ResultRecorder* recorder = nullptr;
        MessagePaneModel* pane = nullptr;
        Notifier* notifier = nullptr;
        SyslogListener syslogListener;
        // Operator messages from worker threads; must be safe from any thread.
        OperatorPrompt* workerPrompt = nullptr;
        // Gets the figures of every handled result; may be null.
        MetricsRegistry* metrics = nullptr;
        // Creates the worker and listener threads; tests replace it.
        std::function<ThreadStart(std::function<void()>)> startThread;
    };

    MonitorController(HostListModel& hosts, SettingsStore& settings, Services services, QObject* parent = nullptr);
    ~MonitorController() override;

    // The notifier usually needs events() as its sink, so it can come later.
    void setNotifier(Notifier* notifier) { m_services.notifier = notifier; }

    void OnMonitoringStart();
    void OnMonitoringStop();
    bool isMonitoring() const { return m_monitoring; }
    // Worker and listener threads started and not yet ended, across runs.
    int liveThreads() const { return m_liveThreads; }

    // The event handlers; normally reached through events().
    void SetThreadStatus(uint32_t threadId, int code);
    void OnThreadEnded(uint32_t threadId, std::unique_ptr<HostSession> session);
    void OnPollSuccess(uint32_t threadId, std::unique_ptr<ProbeResult> result);
    void OnPollFailure(uint32_t threadId, std::unique_ptr<ProbeResult> result);
    void OnSyslogEvent(uint32_t threadId, std::unique_ptr<ProbeResult> record);

    // The queue workers post to; shared so that late workers never outlive it.
    std::shared_ptr<EngineEvents> events() const;
    // Called after each queued event was handled, with the event's post and
    // queue times and when its batch was taken and it was handled (steady
    // clock, nanoseconds); for measurements.
    struct EventTimes
    {
        int64_t postedNs = 0;
        int64_t queuedNs = 0;
        int64_t takenNs = 0;
        int64_t handledNs = 0;
    };
    void setLatencyObserver(std::function<void(const EventTimes&)> observer) { m_latencyObserver = std::move(observer); }

Q_SIGNALS:
    void monitoringStarted();
    void monitoringStopped();
    void resultHandled(const qm::PollReport& report);
    void threadStatusChanged(uint32_t threadId, int code);
    // The last live thread has ended.
    void allThreadsEnded();

private:
    void onEventsWaiting();
    void handleQueuedEvents();
    void flushStatusTexts();
    void applySuccess(uint32_t threadId, int row, std::unique_ptr<ProbeResult> result);
    void applyFailure(uint32_t threadId, int row, std::unique_ptr<ProbeResult> result);
    void report(uint32_t threadId, int row, bool success, const QString& responseText, const QString& message);
    void publishMetrics(int row, bool success, int responseMs);
    QString cell(int row, int column) const;
    void setCell(int row, int column, const QString& value);
    void stepHealth(int row, bool success);
    void updateFailurePercent(int row);
    Notification buildNotification(int row, Notification::Kind kind) const;
    bool record(int row, const QString& time, const QString& message, bool failure);
    void addPaneLine(int row, const QString& message, bool success, const QString& respTime);
    void startThreadFailed(int row, const QString& reason);
    void stepStagedRun();

    HostListModel& m_hosts;
    SettingsStore& m_settings;
    Services m_services;
    // The shortest time between two batches while events come at
    // kBusyEvents per kRateWindow or more.
    static constexpr std::chrono::milliseconds kBatchSpacing{5};
    static constexpr std::chrono::milliseconds kRateWindow{100};
    static constexpr std::size_t kBusyEvents = 50;
    std::shared_ptr<EngineEventQueue> m_events;
    // Declared after the queue: gone before the queue closes its eventfd.
    std::unique_ptr<QSocketNotifier> m_wakeNotifier;
    QTimer m_batchTimer; // the next batch, when a wake-up came too soon after the last
    std::chrono::steady_clock::time_point m_nextBatchAt{};
    std::chrono::steady_clock::time_point m_windowStart{};
    std::size_t m_windowEvents = 0;
    bool m_busy = false;
    std::vector<EngineEvent> m_batch;
    bool m_inBatch = false;
    QHash<uint32_t, int> m_statusTexts; // thread → status code shown at the end of the batch
    std::function<void(const EventTimes&)> m_latencyObserver;
    bool m_monitoring = false;
    bool m_syslogStarted = false;
    std::list<HostSession*> m_running; // refers to the sessions, never owns them
    std::shared_ptr<CancelToken> m_runToken; // the running run's stop, shared by its workers
    StagedRun m_stagedRun;
    QTimer m_stageTimer; // the next step of the staged run when no batch came in kStageStep
    static constexpr std::chrono::milliseconds kStageStep{10};
    int m_liveThreads = 0;
};

} // namespace qm
