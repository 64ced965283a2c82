#include "engine/MonitorSystem.h"

#include "engine/SyslogThread.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"

namespace qm {

MonitorSystem::MonitorSystem(SettingsStore& store, Prompts prompts, const QString& databaseFile,
                             NotificationQueueOptions notificationOptions)
    : m_store(store), m_database(*prompts.main)
{
    // A copy that cannot have the file (another one runs) monitors on
    // without it, as the prompt said.
    m_database.open(store, databaseFile);

    MonitorController::Services services;
    services.pane = &m_pane;
    services.recorder = m_database.isOpen() ? &m_database : nullptr;
    services.workerPrompt = prompts.worker;
    services.syslogListener = [prompt = prompts.worker](HostSession& session, EngineEvents& events) {
        RunSyslogListener(session, events, *prompt);
    };
    m_controller = std::make_unique<MonitorController>(m_hosts, store, services);

    // Pager calls, sounds, mails and their trace routes run on a thread of
    // their own; their reports join the results like any other.
    m_notifications = std::make_unique<NotificationQueue>(*m_controller->events(), *prompts.main,
                                                          std::move(notificationOptions));
    m_controller->setNotifier(m_notifications.get());

    m_exporter = std::make_unique<ExportScheduler>(m_hosts, m_pane, *prompts.main);
    m_exporter->setDatabaseFile(m_database.fileName());
    QObject::connect(m_controller.get(), &MonitorController::monitoringStarted, m_exporter.get(),
                     [this] { m_exporter->start(m_store); });
    QObject::connect(m_controller.get(), &MonitorController::monitoringStopped, m_exporter.get(),
                     &ExportScheduler::stop);
}

MonitorSystem::~MonitorSystem()
{
    m_controller->OnMonitoringStop();
    m_exporter.reset();
    m_notifications.reset();
    m_controller.reset();
}

void MonitorSystem::loadHosts()
{
    m_hosts.clear();
    const auto loaded = LoadHosts(m_store);
    for (std::size_t i = 0; i < loaded.size(); ++i)
        m_hosts.insertHost(static_cast<int>(i), loaded[i]);
}

void MonitorSystem::saveHosts()
{
    SaveHosts(m_store, m_hosts.allTexts());
}

} // namespace qm
