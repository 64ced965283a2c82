#include "app/monitor/MonitorRun.h"

#include "app/common/PrintWarning.h"
#include "app/common/StopSignals.h"
#include "app/monitor/CommandLine.h"
#include "engine/MonitorSystem.h"
#include "platform/OperatorPrompt.h"
#include "store/SettingsStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

namespace qm::cli {

namespace {
// Threads still probing after a stop get this long to finish their probe
// (every network wait of a probe is bounded well below it).
constexpr int kStopGraceMs = 12000;

// The result lines on stdout. Lines are collected and written once the
// event loop has handled the batch at hand (one write for many results); the
// time text is made once a second.
class ResultPrinter
{
public:
    ResultPrinter()
    {
        m_flush.setSingleShot(true);
        m_flush.setInterval(0);
        QObject::connect(&m_flush, &QTimer::timeout, &m_flush, [this] { flush(); });
    }
    ~ResultPrinter() { flush(); }

    void print(const PollReport& r)
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        if (now != m_timeSecs) {
            m_timeSecs = now;
            m_timeText = QDateTime::fromSecsSinceEpoch(now)
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                             .toUtf8();
        }
        m_buffer += m_timeText;
        m_buffer += r.success ? "\tOK\t" : "\tFAIL\t";
        append(r.protocol);
        m_buffer += "//";
        append(r.host);
        m_buffer += ':';
        append(r.port);
        m_buffer += '\t';
        append(r.responseText);
        m_buffer += '\t';
        append(r.message);
        m_buffer += '\n';
        if (m_buffer.size() >= kFlushBytes)
            flush();
        else if (!m_flush.isActive())
            m_flush.start();
    }

    void flush()
    {
        m_flush.stop();
        if (m_buffer.isEmpty())
            return;
        std::fwrite(m_buffer.constData(), 1, static_cast<std::size_t>(m_buffer.size()), stdout);
        std::fflush(stdout);
        m_buffer.clear(); // keeps its capacity
    }

private:
    static constexpr qsizetype kFlushBytes = 64 * 1024;

    void append(const QString& field)
    {
        for (const QChar c : field) {
            if (c.unicode() < 0x20 || c == u'\\' || (c.unicode() >= 0x7f && c.category() == QChar::Other_Control)) {
                m_buffer += OneLineField(field).toUtf8();
                return;
            }
        }
        m_buffer += field.toUtf8();
    }

    QByteArray m_buffer;
    QTimer m_flush;
    qint64 m_timeSecs = -1;
    QByteArray m_timeText;
};

void PrintList(void (*print)(const QString&), const QString& title, const QStringList& lines)
{
    print(title);
    for (const QString& line : lines)
        print(QStringLiteral("  ") + line);
}
} // namespace

QString OneLineField(const QString& text)
{
    QString field;
    field.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\': field += QLatin1String("\\\\"); break;
        case u'\n': field += QLatin1String("\\n"); break;
        case u'\r': field += QLatin1String("\\r"); break;
        case u'\t': field += QLatin1String("\\t"); break;
        default:
            if (c.category() == QChar::Other_Control)
                field += QString::asprintf("\\x%02x", c.unicode());
            else
                field += c;
        }
    }
    return field;
}

int RunMonitor(SettingsStore& store, const RunOptions& options)
{
    StderrPrompt prompt(false, app::StderrIsJournal()); // writes to stderr: safe from any thread
    MonitorSystem system(store, {&prompt, &prompt}, options.databaseFile);
    system.loadHosts();
    if (options.metricsListen) {
        // A name that does not resolve is bad input; an address that cannot
        // be listened on (in use, not one of this machine's) fails the run.
        QString error;
        const auto resolved = ResolveListenAddress(*options.metricsListen, &error);
        if (!resolved || !system.serveMetrics(*resolved, &error)) {
            PrintError(QStringLiteral("--metrics-listen %1: %2").arg(options.metricsListen->text(), error));
            return resolved ? kExitFailure : kExitUsage;
        }
        PrintNote(QStringLiteral("serving Prometheus metrics on http://%1/metrics").arg(options.metricsListen->text()));
    }
    HostListModel& hosts = system.hosts();
    MonitorController& controller = system.controller();
    ExportScheduler& exporter = system.exporter();
    QObject::connect(&exporter, &ExportScheduler::lastExportTextChanged, qApp, [](const QString& text) { PrintNote(text); });
    QString lastDiskText;
    QObject::connect(&exporter, &ExportScheduler::diskTextChanged, qApp, [&](const QString& text) {
        if (text != lastDiskText)
            PrintNote(text);
        lastDiskText = text;
    });

    // --once: the first poll of each started host is complete when its worker
    // goes back to sleep; the result that came before decides.
    struct FirstPoll
    {
        bool working = false;
        bool done = false;
        bool success = false;
        bool reported = false;
    };
    std::map<uint32_t, FirstPoll> firstPolls;
    bool stopping = false; // monitoring stopped; waiting for the workers
    bool exiting = false;  // waiting for the notifications and uploads
    int exitCode = kExitOk;
    QElapsedTimer stopClock;
    QTimer workerGrace;
    workerGrace.setSingleShot(true);

    // The last step: what the notification thread holds and an upload under
    // way get what is left of the exit bound; giveUp abandons them at once.
    auto finishWork = [&](bool giveUp) {
        if (exiting) {
            if (giveUp)
                system.abandonPendingWork();
            return;
        }
        exiting = true;
        workerGrace.stop();
        if (const int busy = controller.liveThreads(); busy > 0)
            PrintWarning(QStringLiteral("%1 worker(s) still busy after the stop; leaving them").arg(busy));
        const int left =
            std::max(0, MonitorSystem::kExitBoundMs - static_cast<int>(stopClock.elapsed()));
        auto told = std::make_shared<bool>(false);
        auto changed = [left, told](const QStringList& pending) {
            if (*told || pending.isEmpty())
                return;
            *told = true;
            PrintList(PrintWarning, QStringLiteral("waiting up to %1 s for %2 notification(s) or upload(s); "
                                     "SIGINT or SIGTERM again abandons them:")
                          .arg(left / 1000)
                          .arg(pending.size()),
                      pending);
        };
        auto done = [&, told](bool complete, const QStringList& abandoned) {
            if (!complete && !abandoned.isEmpty())
                PrintList(PrintError, QStringLiteral("abandoned %1 notification(s) or upload(s):")
                              .arg(abandoned.size()),
                          abandoned);
            else if (*told)
                PrintNote(QStringLiteral("notifications and uploads done"));
            QCoreApplication::exit(exitCode);
        };
        system.finishPendingWork(left, giveUp ? MonitorSystem::PendingChanged() : changed, done);
        if (giveUp)
            system.abandonPendingWork();
    };

    auto finish = [&] {
        if (stopping)
            return;
        stopping = true;
        stopClock.start();
        controller.OnMonitoringStop();
        if (controller.liveThreads() == 0)
            finishWork(false);
        else
            workerGrace.start(kStopGraceMs);
    };
    QObject::connect(&workerGrace, &QTimer::timeout, qApp, [&] { finishWork(false); });

    QObject::connect(&controller, &MonitorController::allThreadsEnded, qApp, [&] {
        if (stopping)
            finishWork(false);
    });
    ResultPrinter printer;
    QObject::connect(&controller, &MonitorController::resultHandled, qApp, [&](const PollReport& r) {
        printer.print(r);
        auto it = firstPolls.find(r.threadId);
        if (it != firstPolls.end() && it->second.working && !it->second.done && !it->second.reported) {
            it->second.reported = true;
            it->second.success = r.success;
        }
    });
    QObject::connect(&controller, &MonitorController::threadStatusChanged, qApp, [&](uint32_t tid, int code) {
        if (!options.once || stopping)
            return;
        auto it = firstPolls.find(tid);
        if (it == firstPolls.end())
            return;
        if (code == StatusWorking)
            it->second.working = true;
        else if (code == StatusSleeping && it->second.working)
            it->second.done = true;
        for (const auto& [id, poll] : firstPolls)
            if (!poll.done)
                return;
        for (const auto& [id, poll] : firstPolls)
            if (!poll.reported || !poll.success)
                exitCode = kExitFailure;
        finish();
    });

    // Signals end the run through the event loop; a second one gives up on
    // what the exit still waits for.
    app::RouteStopSignals(qApp, [&] {
        if (stopping)
            finishWork(true);
        else
            finish();
    });

    controller.OnMonitoringStart();
    int started = 0;
    for (int row = 0; row < hosts.rowCount(); ++row) {
        const uint32_t tid = hosts.itemData(row);
        if (tid == 0)
            continue;
        ++started;
        if (hosts.text(row, ColProtocol) != QLatin1String("SYSLOG"))
            firstPolls[tid] = FirstPoll{};
    }
    PrintNote(QStringLiteral("monitoring %1 of %2 host(s) from %3").arg(started).arg(hosts.rowCount()).arg(store.fileName()));
    if (hosts.rowCount() == 0)
        PrintWarning(QStringLiteral("no hosts yet: add one with \"quillmere-monitor hosts add --host NAME --protocol PROTOCOL\""));

    if (options.once && firstPolls.empty()) {
        PrintWarning(QStringLiteral("--once: no enabled host to poll"));
        exitCode = kExitFailure;
        QTimer::singleShot(0, qApp, finish);
    }
    if (options.durationSeconds > 0)
        QTimer::singleShot(options.durationSeconds * 1000, qApp, finish);

    int rc = QCoreApplication::exec();
    printer.flush();
    // Results the database could not take (shown already) fail the run.
    system.database().close();
    if (rc == kExitOk && system.database().writeErrors() > 0)
        rc = kExitFailure;
    system.notifications().stop();
    app::RestoreStopSignals();
    return rc;
}

} // namespace qm::cli
