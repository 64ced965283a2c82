// Many hosts at once: starts one worker per host against a local TCP server
// that answers every connection with an HTTP status line, and measures how many
// results per second the main thread handles, the memory the workers cost, and
// how long a stop takes until every worker has ended.
//
//   engine_bench [HOSTS [SECONDS]]   default: 2000 hosts for 10 seconds
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

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;
using qm::bench::LoopbackHttpServer;
using qm::bench::RssKiB;

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int hosts = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    if (hosts <= 0 || seconds <= 0) {
        std::fprintf(stderr, "usage: engine_bench [HOSTS [SECONDS]]\n");
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
        row[qm::ColFreq] = QStringLiteral("1 sec");
        model.insertHost(i, row);
        model.setChecked(i, i % 10 == 0); // some rows feed the message pane
    }
    qm::MonitorController::Services services;
    services.pane = &pane;
    qm::MonitorController controller(model, settings, services);
    long results = 0;
    QObject::connect(&controller, &qm::MonitorController::resultHandled, [&](const qm::PollReport&) { ++results; });

    const long rssBefore = RssKiB();
    const auto started = Clock::now();
    controller.OnMonitoringStart();
    const double startMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    const long rssRunning = RssKiB();

    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double runSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    const long rssPeak = RssKiB();

    const auto stopping = Clock::now();
    controller.OnMonitoringStop();
    while (controller.liveThreads() > 0 && Clock::now() - stopping < std::chrono::seconds(30))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double stopMs = std::chrono::duration<double, std::milli>(Clock::now() - stopping).count();

    std::printf("hosts                 %d\n", hosts);
    std::printf("start                 %.1f ms\n", startMs);
    std::printf("results handled       %ld in %.1f s (%.0f per second)\n", results, runSeconds, results / runSeconds);
    std::printf("memory                %ld KiB before, %ld KiB running, %ld KiB at the end (%.1f KiB per host)\n",
                rssBefore, rssRunning, rssPeak, double(rssPeak - rssBefore) / hosts);
    std::printf("stop until all ended  %.1f ms (%d workers left)\n", stopMs, controller.liveThreads());
    std::printf("message pane lines    %d\n", pane.rowCount());
    return controller.liveThreads() == 0 ? 0 : 1;
}
