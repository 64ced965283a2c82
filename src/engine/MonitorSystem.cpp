#include "engine/MonitorSystem.h"

#include "engine/SyslogThread.h"
#include "platform/OperatorPrompt.h"
#include "platform/WorkerThread.h"
#include "store/ConfigSections.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"

#include <QCoreApplication>

namespace qm {

namespace {
// How often the exit wait looks at what is still under way.
constexpr int kPendingPollMs = 100;
} // namespace

MonitorSystem::MonitorSystem(SettingsStore& store, Prompts prompts, const QString& databaseFile,
                             NotificationQueueOptions notificationOptions)
    : m_store(store), m_prompt(*prompts.main), m_database(*prompts.main)
{
    // A copy that cannot have the file (another one runs) monitors on
    // without it, as the prompt said.
    m_database.open(store, databaseFile);

    MonitorController::Services services;
    services.pane = &m_pane;
    services.recorder = m_database.recording() ? &m_database : nullptr;
    services.workerPrompt = prompts.worker;
    services.metrics = &m_metrics;
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

    // Each row keeps its metrics number while it is in the list (followed by a
    // persistent index through moves, sorts and edits); removed rows and
    // edited labels leave the metrics as the run starts.
    QObject::connect(m_controller.get(), &MonitorController::monitoringStarted, m_controller.get(),
                     [this] { startMetricsRun(); });

    m_pendingPoll.setInterval(kPendingPollMs);
    QObject::connect(&m_pendingPoll, &QTimer::timeout, &m_pendingPoll,
                     [this] { checkPendingWork(); });
}

MonitorSystem::~MonitorSystem()
{
    m_controller->OnMonitoringStop();
    m_exporter.reset();
    m_notifications.reset();
    m_controller.reset();
}

QStringList MonitorSystem::pendingWork() const
{
    QStringList pending;
    for (const std::string& line : m_notifications->pending())
        pending << QString::fromStdString(line);
    if (m_exporter->exporter().uploadsBusy())
        pending << QStringLiteral("XML status upload by FTP");
    return pending;
}

void MonitorSystem::finishPendingWork(int boundMs, PendingChanged changed, PendingDone done)
{
    if (finishingPendingWork())
        return;
    m_exporter->stop();
    m_notifications->drain();
    m_pendingChanged = std::move(changed);
    m_pendingDone = std::move(done);
    m_pendingBoundMs = boundMs;
    m_pendingClock.start();
    m_lastPending.clear();
    checkPendingWork();
    if (finishingPendingWork())
        m_pendingPoll.start();
}

void MonitorSystem::checkPendingWork()
{
    const QStringList pending = pendingWork();
    if (pending.isEmpty() && m_notifications->drained()) {
        endPendingWork(true);
        return;
    }
    if (pending != m_lastPending) {
        m_lastPending = pending;
        if (m_pendingChanged)
            m_pendingChanged(pending);
    }
    if (m_pendingClock.hasExpired(m_pendingBoundMs))
        endPendingWork(false);
}

void MonitorSystem::abandonPendingWork()
{
    if (finishingPendingWork())
        endPendingWork(false);
}

void MonitorSystem::endPendingWork(bool complete)
{
    m_pendingPoll.stop();
    const QStringList abandoned = complete ? QStringList() : pendingWork();
    // Whatever still runs is cut off; the thread has ended when complete.
    m_notifications->stop(complete ? NotificationQueue::kStopGraceMs : 0);
    PendingDone done = std::move(m_pendingDone);
    m_pendingDone = nullptr;
    m_pendingChanged = nullptr;
    if (done)
        done(complete, abandoned);
}

void MonitorSystem::startMetricsRun()
{
    QHash<int, uint64_t> idOfRow;
    for (const auto& [index, id] : m_metricsRows)
        if (index.isValid())
            idOfRow.insert(index.row(), id);
    m_metricsRows.clear();
    std::vector<MetricsRunEntry> run;
    run.reserve(static_cast<std::size_t>(m_hosts.rowCount()));
    for (int row = 0; row < m_hosts.rowCount(); ++row) {
        uint64_t id = idOfRow.value(row);
        if (id == 0)
            id = m_nextMetricsId++;
        m_metricsRows.emplace_back(QPersistentModelIndex(m_hosts.index(row, 0)), id);
        run.push_back({id, m_hosts.itemData(row),
                       {m_hosts.text(row, ColHost), m_hosts.text(row, ColProtocol), m_hosts.text(row, ColPort),
                        m_hosts.text(row, ColNickname)}});
    }
    m_metrics.startRun(run);
}

bool MonitorSystem::serveMetrics(const ResolvedListenAddress& address, QString* error)
{
    ++m_metricsGeneration; // a look-up under way no longer counts
    return m_metricsServer.listen(address, error);
}

void MonitorSystem::stopMetrics()
{
    ++m_metricsGeneration;
    m_metricsServer.stop();
    m_metricsListen.clear();
}

void MonitorSystem::applyMetricsSettings()
{
    const MetricsSettings settings = LoadMetricsSettings(m_store);
    if (!settings.enabled) {
        stopMetrics();
        return;
    }
    if (settings.listen == m_metricsListen)
        return; // serving there, or being looked up
    stopMetrics();
    m_metricsListen = settings.listen;
    QString error;
    const auto address = ParseListenAddress(settings.listen, &error);
    if (!address) {
        m_metricsListen.clear(); // told again on the next Start until mended
        m_prompt.inform(OperatorPrompt::Icon::Warning, ("Prometheus metrics are off: " + error).toStdString());
        return;
    }
    // A name may wait on the resolver: looked up off the main thread, the
    // answer comes back through the event loop.
    const int generation = ++m_metricsGeneration;
    const ThreadStart started = StartDetachedThread([this, alive = std::weak_ptr<int>(m_alive), generation,
                                                     address = *address] {
        QString error;
        auto resolved = ResolveListenAddress(address, &error);
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr)
            return;
        QMetaObject::invokeMethod(app, [this, alive, generation, resolved, error, text = address.text()]() mutable {
            if (alive.expired() || generation != m_metricsGeneration)
                return;
            if (resolved && m_metricsServer.listen(*resolved, &error))
                return;
            m_metricsListen.clear();
            m_prompt.inform(OperatorPrompt::Icon::Warning,
                            QStringLiteral("Prometheus metrics cannot listen on %1: %2").arg(text, error).toStdString());
        });
    });
    if (!started.started) {
        m_metricsListen.clear();
        m_prompt.inform(OperatorPrompt::Icon::Warning,
                        "Prometheus metrics are off: cannot start a thread: " + started.error);
    }
}

void MonitorSystem::loadHosts()
{
    m_hosts.clear();
    const auto loaded = LoadHosts(m_store);
    for (std::size_t i = 0; i < loaded.size(); ++i)
        m_hosts.insertHost(static_cast<int>(i), loaded[i]);
    // What a damaged file made the reading pass over or replace.
    for (const QString& warning : m_store.loadWarnings())
        m_prompt.inform(OperatorPrompt::Icon::Warning, warning.toStdString());
}

void MonitorSystem::saveHosts()
{
    SaveHosts(m_store, m_hosts.allTexts());
}

} // namespace qm
