// Many hosts at once: starts one worker per host against a local TCP server
// that answers every connection with an HTTP status line, and measures the
// main thread's time to start them all, how many results per second it
// handles, the latency of the events (worker post to handler done), the
// memory, whether every answered poll became a result, and how long a stop
// takes until every worker has ended.
//
//   engine_bench [HOSTS [SECONDS [FREQUENCY]]]
//       default: 2000 hosts for 10 seconds, polled every 1 s (0: back to back)
//   engine_bench 10000 600 10    the ten-minute run of 10,000 hosts at 10 s
//
// Traffic goes to 127.0.0.1 only; the run ends by itself.

#include "BenchSupport.h"
#include "engine/HostListModel.h"
#include "engine/MessagePaneModel.h"
#include "engine/MonitorController.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

using Clock = std::chrono::steady_clock;
using qm::bench::LoopbackHttpServer;
using qm::bench::PeakRssKiB;
using qm::bench::RssKiB;
using qm::bench::ThreadCpuMs;
using qm::bench::ThreadRunQueueMs;

// Event latencies in 0.1 ms steps up to 1 s; the last bucket holds the rest.
class LatencyHistogram
{
public:
    void add(int64_t ns)
    {
        const int64_t bucket = ns / 100000;
        ++m_counts[static_cast<std::size_t>(bucket < 0 ? 0 : bucket >= kBuckets ? kBuckets - 1 : bucket)];
        ++m_total;
        if (ns > m_max)
            m_max = ns;
    }
    double percentileMs(double p) const
    {
        const long want = static_cast<long>(p * static_cast<double>(m_total));
        long seen = 0;
        for (std::size_t i = 0; i < m_counts.size(); ++i) {
            seen += m_counts[i];
            if (seen > want)
                return static_cast<double>(i + 1) / 10.0;
        }
        return maxMs();
    }
    double maxMs() const { return static_cast<double>(m_max) / 1e6; }
    long total() const { return m_total; }

private:
    static constexpr int64_t kBuckets = 10000;
    std::array<long, kBuckets> m_counts{};
    long m_total = 0;
    int64_t m_max = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int hosts = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int frequency = argc > 3 ? std::atoi(argv[3]) : 1;
    if (hosts <= 0 || seconds <= 0 || frequency < 0) {
        std::fprintf(stderr, "usage: engine_bench [HOSTS [SECONDS [FREQUENCY]]]\n");
        return 2;
    }

    LoopbackHttpServer server;
    QTemporaryDir dir;
    qm::SettingsStore settings(dir.filePath(QStringLiteral("bench.conf")));
    qm::HostListModel model;
    qm::MessagePaneModel pane;
    for (int i = 0; i < hosts; ++i) {
        qm::HostTexts row = qm::NewHostFromDefaults(settings);
        row[qm::ColHost] = QStringLiteral("127.0.0.1");
        row[qm::ColProtocol] = QStringLiteral("HTTP");
        row[qm::ColPort] = QString::number(server.port());
        row[qm::ColFreq] = QStringLiteral("%1 sec").arg(frequency);
        model.insertHost(i, row);
        model.setChecked(i, i % 10 == 0); // some rows feed the message pane
    }
    qm::MonitorController::Services services;
    services.pane = &pane;
    qm::MonitorController controller(model, settings, services);
    long results = 0;
    QObject::connect(&controller, &qm::MonitorController::resultHandled, [&](const qm::PollReport&) { ++results; });
    // Event latency by phase: the start's burst (the first two intervals),
    // the steady run, and the stop (the events handled once Stop was called:
    // Stop's own work and the end of every worker come first).
    enum Phase { Starting, Steady, Stopping };
    Phase phase = Starting;
    LatencyHistogram latency; // every event of every phase
    LatencyHistogram running; // the events of the run, from Start to Stop
    // Each phase's latency and its parts: post stamp → in the queue (a full
    // queue holding the poster back, or the poster preempted), in the queue →
    // batch taken by the main thread, batch taken → this event handled; and
    // the gaps between two batches.
    struct PhaseLatency
    {
        LatencyHistogram total, toQueue, inQueue, inBatch, batchGap;
        int64_t lastTaken = 0;
    };
    std::array<PhaseLatency, 3> byPhase;
    const auto steadyFrom = Clock::now() + std::chrono::seconds(2 * frequency + 2);
    controller.setLatencyObserver([&](const qm::MonitorController::EventTimes& t) {
        const int64_t ns = t.handledNs - t.postedNs;
        latency.add(ns);
        if (phase == Starting && Clock::now() >= steadyFrom)
            phase = Steady;
        if (phase != Stopping)
            running.add(ns);
        PhaseLatency& p = byPhase[phase];
        p.total.add(ns);
        if (t.takenNs != p.lastTaken) {
            if (p.lastTaken != 0)
                p.batchGap.add(t.takenNs - p.lastTaken);
            p.lastTaken = t.takenNs;
        }
        p.toQueue.add(t.queuedNs - t.postedNs);
        p.inQueue.add(t.takenNs - t.queuedNs);
        p.inBatch.add(t.handledNs - t.takenNs);
    });

    const long rssBefore = RssKiB();
    const auto started = Clock::now();
    const double cpuBefore = ThreadCpuMs();
    controller.OnMonitoringStart();
    const double startCpuMs = ThreadCpuMs() - cpuBefore;
    const double startMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    const long rssRunning = RssKiB();

    // The event loop blocks while there is nothing to do, as in the programs.
    QTimer::singleShot(std::chrono::seconds(seconds), Qt::PreciseTimer, &app, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double runSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    const double runCpuMs = ThreadCpuMs() - cpuBefore - startCpuMs;
    const long eventsInRun = latency.total();
    phase = Stopping;
    const long resultsInRun = results;
    const long rssEnd = RssKiB();

    const auto stopping = Clock::now();
    const double stopCpuBefore = ThreadCpuMs();
    const double stopWaitBefore = ThreadRunQueueMs();
    controller.OnMonitoringStop();
    const double stopCallMs = std::chrono::duration<double, std::milli>(Clock::now() - stopping).count();
    if (controller.liveThreads() > 0) {
        QObject::connect(&controller, &qm::MonitorController::allThreadsEnded, &app, &QCoreApplication::quit);
        QTimer::singleShot(std::chrono::seconds(30), &app, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
    const double stopMs = std::chrono::duration<double, std::milli>(Clock::now() - stopping).count();
    const double stopCpuMs = ThreadCpuMs() - stopCpuBefore;
    const double stopWaitMs = ThreadRunQueueMs() - stopWaitBefore;
    QCoreApplication::processEvents(); // what the last workers posted
    const long answered = server.answered();

    std::printf("hosts                 %d, every %d s, for %d s\n", hosts, frequency, seconds);
    std::printf("start                 %.1f ms (%.1f ms of main-thread CPU)\n", startMs, startCpuMs);
    std::printf("results handled       %ld in %.1f s (%.0f per second)\n", resultsInRun, runSeconds,
                resultsInRun / runSeconds);
    std::printf("main thread           %.1f us of CPU per event while running\n",
                eventsInRun > 0 ? runCpuMs * 1000.0 / static_cast<double>(eventsInRun) : 0.0);
    const auto line = [](const char* name, const LatencyHistogram& h) {
        std::printf("%-21s p50 %.1f ms, p99 %.1f ms, max %.1f ms over %ld events\n", name, h.percentileMs(0.5),
                    h.percentileMs(0.99), h.maxMs(), h.total());
    };
    line("event latency", latency);
    line("  Start to Stop", running);
    const char* names[] = {"  start (2 intervals)", "  steady run", "  stop"};
    for (int i = Starting; i <= Stopping; ++i) {
        line(names[i], byPhase[i].total);
        line("    post to queue", byPhase[i].toQueue);
        line("    queue to batch", byPhase[i].inQueue);
        line("    batch to handled", byPhase[i].inBatch);
        line("    between batches", byPhase[i].batchGap);
    }
    std::printf("memory                %ld KiB before, %ld KiB running, %ld KiB at the end, %ld KiB peak "
                "(%.1f KiB per host)\n",
                rssBefore, rssRunning, rssEnd, PeakRssKiB(), double(rssEnd - rssBefore) / hosts);
    std::printf("polls answered        %ld, results %ld (%ld not handled)\n", answered, results, answered - results);
    std::printf("stop until all ended  %.1f ms (%d workers left); the call %.1f ms, main thread %.1f ms on "
                "the CPU, %.1f ms waiting for it\n",
                stopMs, controller.liveThreads(), stopCallMs, stopCpuMs, stopWaitMs);
    std::printf("message pane lines    %d\n", pane.rowCount());
    return controller.liveThreads() == 0 ? 0 : 1;
}
