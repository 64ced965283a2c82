#include "engine/MonitorController.h"

#include "engine/EngineEventQueue.h"
#include "engine/HostListModel.h"
#include "engine/HostSession.h"
#include "engine/MessagePaneModel.h"
#include "engine/PollThread.h"
#include "metrics/MetricsRegistry.h"
#include "platform/CancelToken.h"
#include "platform/Clock.h"
#include "platform/ThreadId.h"
#include "platform/TimeText.h"
#include "platform/WorkerThread.h"
#include "probes/Base64.h"
#include "store/ConfigSections.h"
#include "store/SettingsStore.h"
#include "tools/SyslogNaming.h"

#include <QSocketNotifier>
#include <QStringDecoder>

#include <chrono>

namespace qm {

namespace {
const QString kEmpty;
// Thousands of workers may be runnable at once, each with the main thread's
// share of the CPU: ten nice levels lower, they leave it the CPU whenever
// results wait to be handled, and still have far more than their probes need.
constexpr int kWorkerNiceSteps = 10;

QString StatusText(int code)
{
    switch (code) {
    case StatusStopping: return QStringLiteral("Stopping...");
    case StatusStopped: return QStringLiteral("Stopped...");
    case StatusSleeping: return QStringLiteral("Sleeping...");
    case StatusWorking: return QStringLiteral("Working...");
    default: return {};
    }
}

// Probe and syslog texts are the peer's bytes: UTF-8 when they are valid
// UTF-8, otherwise read as Latin-1 so that no byte is lost.
QString FromStd(const std::string& s)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
    return utf8.hasError() ? QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())) : text;
}
} // namespace

MonitorController::MonitorController(HostListModel& hosts, SettingsStore& settings, Services services, QObject* parent)
    : QObject(parent), m_hosts(hosts), m_settings(settings), m_services(std::move(services)),
      m_events(std::make_shared<EngineEventQueue>())
{
    if (!m_services.startThread)
        m_services.startThread = [](std::function<void()> body) { return StartDetachedThread(std::move(body)); };
    m_batchTimer.setSingleShot(true);
    m_batchTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_batchTimer, &QTimer::timeout, this, &MonitorController::handleQueuedEvents);
    m_stageTimer.setInterval(kStageStep);
    connect(&m_stageTimer, &QTimer::timeout, this, &MonitorController::stepStagedRun);
    // Workers wake this thread through the queue's eventfd: the wake takes no
    // lock, so no worker preempted halfway through it can hold us up.
    m_wakeNotifier = std::make_unique<QSocketNotifier>(m_events->wakeFd(), QSocketNotifier::Read);
    connect(m_wakeNotifier.get(), &QSocketNotifier::activated, this, &MonitorController::onEventsWaiting);
}

MonitorController::~MonitorController()
{
    OnMonitoringStop();
    m_stagedRun.finish(true); // no batch will come to wake the rest
    m_events->detach();
}

std::shared_ptr<EngineEvents> MonitorController::events() const
{
    return m_events;
}

// ---- rows -----------------------------------------------------------------
// A handler whose event matches no row reads empty texts and writes nothing.

QString MonitorController::cell(int row, int column) const
{
    return row < 0 ? kEmpty : m_hosts.text(row, column);
}

void MonitorController::setCell(int row, int column, const QString& value)
{
    if (row >= 0)
        m_hosts.setText(row, column, value);
}

void MonitorController::stepHealth(int row, bool success)
{
    if (row < 0)
        return;
    const int level = m_hosts.image(row);
    int next;
    if (level >= kHealthNoResult)
        next = success ? 0 : 1;
    else if (success)
        next = level > 0 ? level - 1 : 0;
    else
        next = level < kHealthWorst ? level + 1 : kHealthWorst;
    m_hosts.setImage(row, next);
}

void MonitorController::updateFailurePercent(int row)
{
    const int polls = ColumnNumber(cell(row, ColPolls));
    const int failures = ColumnNumber(cell(row, ColFailures));
    const double percent = polls != 0 ? static_cast<double>(failures) / polls * 100.0 : 0.0;
    setCell(row, ColPercFailure, QString::asprintf("%#03.2f%%", percent));
}

// ---- start and stop ---------------------------------------------------------

void MonitorController::OnMonitoringStart()
{
    if (m_monitoring)
        return;
    m_monitoring = true;
    m_runToken = std::make_shared<CancelToken>();
    // A stop of the last run may still be waking its groups.
    m_stagedRun.finish(true);
    m_stagedRun = StagedRun{};

    const std::string dnsQueryName =
        m_settings.readString(QStringLiteral("ConfigDNS"), QStringLiteral("QUERY_NAME")).toStdString();
    const int certWarnDays = LoadCertWarnDays(m_settings);
    const int count = m_hosts.rowCount();
    SizeFutexHashFor(static_cast<std::size_t>(count) + 64);
    for (int row = 0; row < count; ++row) {
        const QString host = cell(row, ColHost);
        const QString protocol = cell(row, ColProtocol);
        const int port = ColumnNumber(cell(row, ColPort));
        const QString freq = cell(row, ColFreq);
        const int frequency = freq.size() > 4 ? ColumnNumber(freq.left(freq.size() - 4)) : 0;
        const std::string password = Base64Decode(cell(row, ColPassword).toStdString());

        setCell(row, ColFloatStat, QStringLiteral("0"));
        if (ColumnNumber(cell(row, ColEnabled)) == 0) {
            // A stale identifier must never match a new thread's events.
            m_hosts.setItemData(row, 0);
            continue;
        }

        auto session = std::make_unique<HostSession>();
        session->SetAll(host.toStdString(), protocol.toStdString(), port, frequency,
                        cell(row, ColUserId).toStdString(), password, cell(row, ColDomain).toStdString());
        session->setCancelToken(m_runToken);
        HostSession* raw = session.get();

        // The new threads wait until every row is started, so that what they
        // report is handled at once instead of queueing behind the rest of
        // the start; then they go group by group as the handling keeps up.
        const std::shared_ptr<const StagedRun::Group> group = m_stagedRun.nextGroup();

        // The new thread takes the session over once it exists; until then
        // (and if it cannot be created) it stays ours.
        ThreadStart started;
        if (protocol == QLatin1String("SYSLOG") && !m_syslogStarted && m_services.syslogListener) {
            m_syslogStarted = true;
            started = m_services.startThread([raw, ev = m_events, listen = m_services.syslogListener, group] {
                std::unique_ptr<HostSession> owned(raw);
                group->gate.wait();
                const EngineEventQueue::WorkerScope scope(owned->cancelToken().get());
                listen(*owned, *ev);
                ev->postThreadEnded(CurrentThreadId(), std::move(owned));
            });
        } else {
            started = m_services.startThread([raw, ev = m_events, dnsQueryName, prompt = m_services.workerPrompt,
                                              certWarnDays, group] {
                LowerCurrentThreadPriority(kWorkerNiceSteps); // before the crowd wakes at the gate
                group->gate.wait();
                PollThreadProc(std::unique_ptr<HostSession>(raw), group->wake, ev, dnsQueryName, prompt,
                               certWarnDays);
            });
        }
        if (!started.started) {
            startThreadFailed(row, QString::fromStdString(started.error));
            continue;
        }
        session.release();
        ++m_liveThreads;
        m_hosts.setItemData(row, started.threadId);
        raw->setThreadId(started.threadId);
        SetThreadStatus(started.threadId, StatusSleeping);
        m_running.push_front(raw);
    }
    stepStagedRun();
    Q_EMIT monitoringStarted();
}

void MonitorController::startThreadFailed(int row, const QString& reason)
{
    // Our own failure, not the host's: the row stays stopped and says why,
    // but no poll is counted, so it can never go down or notify.
    m_hosts.setItemData(row, 0);
    setCell(row, ColThreadStatus, StatusText(StatusStopped));
    m_hosts.setImage(row, kHealthNoResult);
    setCell(row, ColMessage, QStringLiteral("Cannot start a worker thread: ") + reason);
    qWarning("cannot start a worker thread for %s: %s", qPrintable(cell(row, ColHost)),
             qPrintable(reason));
}

void MonitorController::OnMonitoringStop()
{
    if (!m_monitoring)
        return;
    m_monitoring = false;
    while (!m_running.empty()) {
        HostSession* session = m_running.front();
        m_running.pop_front();
        SetThreadStatus(session->threadId(), StatusStopping);
        session->setStopRequested(true);
    }
    // After the stop flags: a probe this ends must find its flag set, never
    // start another. Workers that wait on a full queue go on at once. Threads
    // still at their start gate go, and then the sleepers wake, group by
    // group; each finds its flag set and ends.
    if (m_runToken)
        m_runToken->cancel();
    m_runToken.reset();
    m_events->releaseWaiters();
    stepStagedRun();
    m_syslogStarted = false;
    Q_EMIT monitoringStopped();
}

// ---- handlers ---------------------------------------------------------------

void MonitorController::onEventsWaiting()
{
    m_events->acknowledgeWake();
    // Under a heavy stream one batch per spacing at most, instead of a wake-up
    // per event: the workers do not wake us again until it is taken.
    const auto now = std::chrono::steady_clock::now();
    if (now < m_nextBatchAt) {
        if (!m_batchTimer.isActive())
            m_batchTimer.start(std::chrono::ceil<std::chrono::milliseconds>(m_nextBatchAt - now));
        return;
    }
    handleQueuedEvents();
}

void MonitorController::handleQueuedEvents()
{
    m_batchTimer.stop();
    const auto now = std::chrono::steady_clock::now();
    m_events->takeBatch(m_batch);
    // Busy: the last full window saw kBusyEvents or more. A light stream is
    // handled as it comes.
    const auto windowAge = now - m_windowStart;
    if (windowAge >= kRateWindow) {
        m_busy = windowAge < 2 * kRateWindow && m_windowEvents >= kBusyEvents;
        m_windowStart = now;
        m_windowEvents = 0;
    }
    m_windowEvents += m_batch.size();
    m_nextBatchAt = m_busy ? now + kBatchSpacing : now;
    const int64_t takenNs = m_latencyObserver ? SteadyNowNs() : 0;
    if (m_services.metrics != nullptr) {
        m_services.metrics->setQueueDepth(m_batch.size());
        if (m_services.recorder != nullptr)
            m_services.metrics->setDatabaseWriteErrors(m_services.recorder->writeErrors());
    }
    m_inBatch = true;
    for (EngineEvent& e : m_batch) {
        switch (e.kind) {
        case EngineEvent::Success: OnPollSuccess(e.threadId, std::move(e.result)); break;
        case EngineEvent::Failure: OnPollFailure(e.threadId, std::move(e.result)); break;
        case EngineEvent::Syslog: OnSyslogEvent(e.threadId, std::move(e.result)); break;
        case EngineEvent::Status: SetThreadStatus(e.threadId, e.code); break;
        case EngineEvent::Ended: OnThreadEnded(e.threadId, std::move(e.session)); break;
        }
        if (m_latencyObserver)
            m_latencyObserver({e.postedNs, e.queuedNs, takenNs, SteadyNowNs()});
    }
    m_inBatch = false;
    flushStatusTexts();
    m_batch.clear();
    // Handling keeps up: the next group may go or wake.
    stepStagedRun();
}

void MonitorController::stepStagedRun()
{
    if (m_stagedRun.step(!m_monitoring))
        m_stageTimer.start(); // the next step even when no batch comes
    else
        m_stageTimer.stop();
}

void MonitorController::flushStatusTexts()
{
    for (auto it = m_statusTexts.cbegin(); it != m_statusTexts.cend(); ++it) {
        const int row = m_hosts.findByItemData(it.key());
        if (row >= 0)
            setCell(row, ColThreadStatus, StatusText(it.value()));
    }
    m_statusTexts.clear();
}

void MonitorController::SetThreadStatus(uint32_t threadId, int code)
{
    Q_EMIT threadStatusChanged(threadId, code);
    if (threadId == 0)
        return;
    // Within a batch a worker's "Working..." and "Sleeping..." follow each
    // other faster than anyone can see: only the last one is shown, at the
    // end of the batch. Any other status is shown at once and replaces it.
    if (m_inBatch && (code == StatusWorking || code == StatusSleeping)) {
        m_statusTexts.insert(threadId, code);
        return;
    }
    m_statusTexts.remove(threadId);
    const int row = m_hosts.findByItemData(threadId);
    if (row < 0)
        return;
    setCell(row, ColThreadStatus, StatusText(code));
    if (code == StatusStopping)
        m_hosts.setImage(row, kHealthStopping);
    else if (code == StatusStopped)
        m_hosts.setImage(row, kHealthNoResult);
}

void MonitorController::OnThreadEnded(uint32_t threadId, std::unique_ptr<HostSession> session)
{
    SetThreadStatus(threadId, StatusStopped);
    session.reset();
    if (m_liveThreads > 0 && --m_liveThreads == 0)
        Q_EMIT allThreadsEnded();
}

void MonitorController::OnPollSuccess(uint32_t threadId, std::unique_ptr<ProbeResult> result)
{
    applySuccess(threadId, threadId == 0 ? -1 : m_hosts.findByItemData(threadId), std::move(result));
}

void MonitorController::OnPollFailure(uint32_t threadId, std::unique_ptr<ProbeResult> result)
{
    applyFailure(threadId, threadId == 0 ? -1 : m_hosts.findByItemData(threadId), std::move(result));
}

void MonitorController::applySuccess(uint32_t threadId, int row, std::unique_ptr<ProbeResult> result)
{
    stepHealth(row, true);
    // A success with a warning lowers the level like any success but never
    // down to green: the row stays at least at the first yellow light.
    if (result->warning && row >= 0 && m_hosts.image(row) == 0)
        m_hosts.setImage(row, 1);
    const int responseTime = static_cast<int>(result->responseTime);
    const QString responseText = result->responseTime < 10 ? QStringLiteral("<10 msec")
                                                           : QStringLiteral("%1 msec").arg(responseTime);
    setCell(row, ColResponseTime, responseText);
    const QString message = FromStd(result->message);
    if (result->message.size() > 1)
        setCell(row, ColMessage, message);

    if (ColumnNumber(cell(row, ColFloatStat)) != 0) {
        // Coming up: the mail's counts do not include this poll yet.
        if (m_services.notifier != nullptr) {
            const Notification n = buildNotification(row, Notification::Up);
            if (n.sound || n.mail || n.desktop)
                m_services.notifier->notify(n);
        }
        setCell(row, ColFloatStat, QStringLiteral("0"));
    }
    setCell(row, ColPolls, QString::number(ColumnNumber(cell(row, ColPolls)) + 1));
    updateFailurePercent(row);

    publishMetrics(row, true, responseTime);
    report(threadId, row, true, responseText, message);
    if (!record(row, QString::number(responseTime), message, false))
        return;
    if (row >= 0 && m_hosts.isChecked(row))
        addPaneLine(row, message, true, QString::number(responseTime));
}

void MonitorController::applyFailure(uint32_t threadId, int row, std::unique_ptr<ProbeResult> result)
{
    stepHealth(row, false);
    const int level = row >= 0 ? m_hosts.image(row) : 0;
    setCell(row, ColResponseTime, QStringLiteral("Error"));
    const QString message = FromStd(result->message);
    if (result->message.size() > 1)
        setCell(row, ColMessage, message);
    setCell(row, ColFailures, QString::number(ColumnNumber(cell(row, ColFailures)) + 1));
    setCell(row, ColPolls, QString::number(ColumnNumber(cell(row, ColPolls)) + 1));
    updateFailurePercent(row);

    if (ColumnNumber(cell(row, ColFloatErrs)) != 0 && level >= ColumnNumber(cell(row, ColFloatErrsSens))
        && ColumnNumber(cell(row, ColFloatStat)) == 0) {
        // Going down: the mail's counts include this failure.
        setCell(row, ColFloatStat, QStringLiteral("1"));
        if (m_services.notifier != nullptr) {
            const Notification n = buildNotification(row, Notification::Down);
            if (n.page || n.sound || n.mail || n.desktop)
                m_services.notifier->notify(n);
        }
        if (row > 0) {
            m_hosts.moveToTop(row);
            row = 0;
        }
        m_hosts.setChecked(row, true);
    }

    publishMetrics(row, false, 0);
    report(threadId, row, false, QStringLiteral("Error"), message);
    if (!record(row, QStringLiteral("2147483647"), message, true))
        return;
    if (row >= 0 && m_hosts.isChecked(row))
        addPaneLine(row, message, false, QStringLiteral("Error"));
}

void MonitorController::OnSyslogEvent(uint32_t, std::unique_ptr<ProbeResult> record)
{
    if (!m_syslogStarted)
        return;
    record->responseTime = 0;
    // The record belongs to the first SYSLOG row whose address is the sender.
    const QString sender = FromStd(record->sourceAddress);
    int row = -1;
    for (int r = 0; r < m_hosts.rowCount() && row < 0; ++r)
        if (m_hosts.text(r, ColProtocol) == QLatin1String("SYSLOG") && m_hosts.text(r, ColAddress) == sender)
            row = r;
    if (row < 0)
        return;
    const SyslogNaming naming = NameSyslogRecord(record->facility, record->severity);
    record->message = "[" + naming.severityName + "][" + naming.facilityName + "]: " + record->message;
    const uint32_t threadId = m_hosts.itemData(row);
    if (naming.success)
        applySuccess(threadId, row, std::move(record));
    else
        applyFailure(threadId, row, std::move(record));
}

// ---- services ---------------------------------------------------------------

Notification MonitorController::buildNotification(int row, Notification::Kind kind) const
{
    Notification n;
    n.kind = kind;
    const bool down = kind == Notification::Down;
    const QString prefix = down ? QStringLiteral("HOST DOWN") : QStringLiteral("HOST UP");
    const QString host = cell(row, ColHost);
    const QString nick = cell(row, ColNickname);
    const QString title = nick.isEmpty() ? QStringLiteral("%1: %2").arg(prefix, host)
                                         : QStringLiteral("%1: %2 (%3)").arg(prefix, nick, host);
    // The desktop notification is the program's own switch; the row's
    // "Notify Enable" governs its pager, sound and mail.
    n.desktop = LoadDesktopDefaults(m_settings).desktopNotify;
    if (n.desktop) {
        n.desktopSummary = title;
        n.desktopBody = QStringLiteral("%1 port %2\n%3")
                            .arg(cell(row, ColProtocol), cell(row, ColPort), cell(row, ColMessage));
    }
    if (ColumnNumber(cell(row, ColNotifyEnable)) == 0)
        return n;
    n.page = down && ColumnNumber(cell(row, ColNotifyPagerEnable)) != 0;
    n.pagerSequence = cell(row, ColNotifyPagerSequence);
    if (n.page)
        n.modemDevice = m_settings.readString(QString::fromLatin1(kModemDeviceSection),
                                              QString::fromLatin1(kModemDeviceValue),
                                              QString::fromLatin1(kDefaultModemDevice));
    n.sound = ColumnNumber(cell(row, ColNotifySoundEnable)) != 0;
    n.soundFile = cell(row, ColNotifySoundFile);
    n.mail = ColumnNumber(cell(row, ColNotifyMailEnable)) != 0;
    if (!n.mail)
        return n;
    n.mailServer = cell(row, ColNotifyMailServer);
    n.mailTo = cell(row, ColNotifyMailAddress);
    n.mailFrom = m_settings.readString(QStringLiteral("ConfigNotificationDefaults"), QStringLiteral("EMAIL_FROM_ADDRESS"));
    n.subject = title;
    static constexpr struct { const char* label; HostColumn column; } kBodyLines[] = {
        {"Host: ", ColHost},
        {"Address: ", ColAddress},
        {"Nickname: ", ColNickname},
        {"Protocol: ", ColProtocol},
        {"Port: ", ColPort},
        {"Time: ", ColResponseTime},
        {"Last Messge: ", ColMessage},
        {"Number of Polls: ", ColPolls},
        {"Number of Failures: ", ColFailures},
        {"Percentage of Failures: ", ColPercFailure},
        {"UserID: ", ColUserId},
    };
    for (const auto& line : kBodyLines) {
        const QString text = cell(row, line.column);
        if (!text.isEmpty())
            n.body += QLatin1String(line.label) + text + QLatin1Char('\n');
    }
    if (down)
        n.traceRouteHost = host;
    return n;
}

bool MonitorController::record(int row, const QString& time, const QString& message, bool failure)
{
    if (m_services.recorder == nullptr)
        return true;
    const QString freq = cell(row, ColFreq).left(11);
    return m_services.recorder->RecordResults(cell(row, ColHost).left(95), cell(row, ColProtocol).left(11),
                                              cell(row, ColPort).left(11), freq.left(std::max<qsizetype>(0, freq.size() - 4)),
                                              time, message, failure ? QStringLiteral("1") : QStringLiteral("0"));
}

void MonitorController::addPaneLine(int row, const QString& message, bool success, const QString& respTime)
{
    if (m_services.pane == nullptr)
        return;
    MessagePaneModel::Line line;
    line.text = QStringLiteral("%1//%2:%3 %4").arg(cell(row, ColProtocol), cell(row, ColHost), cell(row, ColPort), message);
    line.image = success ? 0 : kHealthWorst;
    line.respTime = respTime;
    line.timeStamp = QString::fromStdString(FormatLocalTime("%d %b %y %H:%M:%S"));
    m_services.pane->addLine(std::move(line));
}

void MonitorController::publishMetrics(int row, bool success, int responseMs)
{
    MetricsRegistry* metrics = m_services.metrics;
    if (metrics == nullptr)
        return;
    if (row < 0) {
        metrics->countUnmatchedResult();
        return;
    }
    // The registry knows each entry of the run by its worker, the row's item data.
    metrics->recordResult(m_hosts.itemData(row), success, ColumnNumber(cell(row, ColFloatStat)) != 0,
                          m_hosts.image(row), responseMs);
}

void MonitorController::report(uint32_t threadId, int row, bool success, const QString& responseText, const QString& message)
{
    PollReport r;
    r.success = success;
    r.threadId = threadId;
    r.row = row;
    r.host = cell(row, ColHost);
    r.protocol = cell(row, ColProtocol);
    r.port = cell(row, ColPort);
    r.responseText = responseText;
    r.message = message;
    Q_EMIT resultHandled(r);
}

} // namespace qm
