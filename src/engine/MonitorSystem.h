#pragma once

#include "engine/ExportScheduler.h"
#include "engine/HostListModel.h"
#include "engine/MessagePaneModel.h"
#include "engine/MonitorController.h"
#include "metrics/ListenAddress.h"
#include "metrics/MetricsRegistry.h"
#include "metrics/MetricsServer.h"
#include "notify/NotificationQueue.h"
#include "store/ResultsDatabase.h"

#include <QElapsedTimer>
#include <QPersistentModelIndex>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace qm {

class OperatorPrompt;
class SettingsStore;

// The core of a monitoring program, wired together once for both programs:
// the host list, the message pane, the results database, the controller with
// its notification thread, and the status export that runs while monitoring
// runs. Lives on the main thread.
class MonitorSystem
{
public:
    struct Prompts
    {
        OperatorPrompt* main = nullptr;   // messages raised on the main thread
        OperatorPrompt* worker = nullptr; // raised on worker threads: must be thread-safe
    };

    // Opens the results database: `databaseFile` (a file or a postgresql://
    // URL) when given, else the configured one (a failure is shown and the
    // system runs without it).
    MonitorSystem(SettingsStore& store, Prompts prompts, const QString& databaseFile = {},
                  NotificationQueueOptions notificationOptions = {});
    ~MonitorSystem();
    MonitorSystem(const MonitorSystem&) = delete;
    MonitorSystem& operator=(const MonitorSystem&) = delete;

    // Both programs give the work still under way at exit this long in all.
    static constexpr int kExitBoundMs = 120000;

    // Called with what is still under way whenever that changes.
    using PendingChanged = std::function<void(const QStringList& pending)>;
    // Called once at the end: complete when nothing was left, else with what
    // was given up.
    using PendingDone = std::function<void(bool complete, const QStringList& abandoned)>;

    // For the exit, once monitoring has stopped and its workers have ended:
    // lets the notification thread deliver what it holds and an XML upload
    // under way complete, for at most boundMs, without blocking: the caller's
    // event loop keeps running and the callbacks come from it. With nothing
    // under way `done` is called at once. New notifications are not taken.
    void finishPendingWork(int boundMs, PendingChanged changed, PendingDone done);
    // Ends that wait now, giving up whatever is still under way (an upload is
    // cut off when the system goes; it never replaces the previous file).
    void abandonPendingWork();
    bool finishingPendingWork() const { return m_pendingDone != nullptr; }
    // One line per queued notification (the running one first) and one for
    // an XML upload under way.
    QStringList pendingWork() const;

    // Replaces the rows by the hosts of the store; each starts stopped.
    void loadHosts();
    // Writes the rows back to the store (not synced to disk).
    void saveHosts();

    // Serves the Prometheus metrics on the address (looked up by the caller)
    // until the system goes or stopMetrics(). On failure `error` says why.
    bool serveMetrics(const ResolvedListenAddress& address, QString* error);
    void stopMetrics();
    // The desktop program's "ConfigMetrics" settings: serves, moves or stops
    // the metrics endpoint as they say, looking a name up on a thread of its
    // own; problems go to the operator.
    void applyMetricsSettings();

    SettingsStore& store() { return m_store; }
    HostListModel& hosts() { return m_hosts; }
    MessagePaneModel& pane() { return m_pane; }
    ResultsDatabase& database() { return m_database; }
    MonitorController& controller() { return *m_controller; }
    NotificationQueue& notifications() { return *m_notifications; }
    ExportScheduler& exporter() { return *m_exporter; }

private:
    void startMetricsRun();
    void checkPendingWork();
    void endPendingWork(bool complete);

    SettingsStore& m_store;
    OperatorPrompt& m_prompt;
    MetricsRegistry m_metrics;
    MetricsServer m_metricsServer{m_metrics};
    QString m_metricsListen;      // what the settings asked for last
    int m_metricsGeneration = 0;  // the look-up whose answer counts
    std::shared_ptr<int> m_alive = std::make_shared<int>(0); // look-ups' view of this object
    HostListModel m_hosts;
    // Each row's metrics number, as of the last Start (after m_hosts: the
    // indexes go first).
    std::vector<std::pair<QPersistentModelIndex, uint64_t>> m_metricsRows;
    uint64_t m_nextMetricsId = 1;
    MessagePaneModel m_pane;
    ResultsDatabase m_database;
    std::unique_ptr<MonitorController> m_controller;
    std::unique_ptr<NotificationQueue> m_notifications;
    std::unique_ptr<ExportScheduler> m_exporter;

    QTimer m_pendingPoll;
    QElapsedTimer m_pendingClock;
    int m_pendingBoundMs = 0;
    QStringList m_lastPending;
    PendingChanged m_pendingChanged;
    PendingDone m_pendingDone;
};

} // namespace qm
