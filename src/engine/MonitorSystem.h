#pragma once

#include "engine/ExportScheduler.h"
#include "engine/HostListModel.h"
#include "engine/MessagePaneModel.h"
#include "engine/MonitorController.h"
#include "notify/NotificationQueue.h"
#include "store/ResultsDatabase.h"

#include <QString>

#include <memory>

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

    // Opens the results database: `databaseFile` when given, else the
    // configured one (a failure is shown and the system runs without it).
    MonitorSystem(SettingsStore& store, Prompts prompts, const QString& databaseFile = {},
                  NotificationQueueOptions notificationOptions = {});
    ~MonitorSystem();
    MonitorSystem(const MonitorSystem&) = delete;
    MonitorSystem& operator=(const MonitorSystem&) = delete;

    // Replaces the rows by the hosts of the store; each starts stopped.
    void loadHosts();
    // Writes the rows back to the store (not synced to disk).
    void saveHosts();

    SettingsStore& store() { return m_store; }
    HostListModel& hosts() { return m_hosts; }
    MessagePaneModel& pane() { return m_pane; }
    ResultsDatabase& database() { return m_database; }
    MonitorController& controller() { return *m_controller; }
    NotificationQueue& notifications() { return *m_notifications; }
    ExportScheduler& exporter() { return *m_exporter; }

private:
    SettingsStore& m_store;
    HostListModel m_hosts;
    MessagePaneModel m_pane;
    ResultsDatabase m_database;
    std::unique_ptr<MonitorController> m_controller;
    std::unique_ptr<NotificationQueue> m_notifications;
    std::unique_ptr<ExportScheduler> m_exporter;
};

} // namespace qm
