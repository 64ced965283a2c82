// The desktop window under load: many hosts polling a local HTTP server while
// the host list is shown, sorted and scrolled. Measures how late the main
// thread serves a 10 ms timer (its event latency) and the memory in use.
//
//   desktop_bench [HOSTS [SECONDS [FREQ]]]   default: 10000 hosts, 60 s, 10 s
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise. Traffic goes to
// 127.0.0.1 only; the run ends by itself.

#include "BenchSupport.h"
#include "engine/MonitorSystem.h"
#include "platform/OperatorPrompt.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"
#include "ui/HostListView.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Answers every question No and prints every message.
class PrintingPrompt final : public qm::OperatorPrompt
{
public:
    void inform(Icon, const std::string& text) override { std::fprintf(stderr, "prompt: %s\n", text.c_str()); }
    bool confirm(const std::string& text) override
    {
        inform(Icon::Question, text);
        return false;
    }
};

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size() - 1));
    return values[index];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int hosts = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const int freq = argc > 3 ? std::atoi(argv[3]) : 10;
    if (hosts <= 0 || seconds <= 0 || freq < 0) {
        std::fprintf(stderr, "usage: desktop_bench [HOSTS [SECONDS [FREQ]]]\n");
        return 2;
    }

    qm::bench::LoopbackHttpServer server;
    QTemporaryDir dir;
    qm::SettingsStore store(dir.filePath(QStringLiteral("bench.conf")));
    std::vector<qm::HostTexts> rows;
    for (int i = 0; i < hosts; ++i) {
        qm::HostTexts row = qm::NewHostFromDefaults(store);
        row[qm::ColHost] = QStringLiteral("127.0.0.%1").arg(1 + i % 250);
        row[qm::ColProtocol] = QStringLiteral("HTTP");
        row[qm::ColPort] = QString::number(server.port());
        row[qm::ColFreq] = QStringLiteral("%1 sec").arg(freq);
        rows.push_back(row);
    }
    qm::SaveHosts(store, rows);

    PrintingPrompt prompt;
    const long rssBefore = qm::bench::RssKiB();
    qm::MonitorSystem system(store, {&prompt, &prompt}, dir.filePath(QStringLiteral("results.db")));
    system.loadHosts();
    for (int i = 0; i < hosts; i += 10)
        system.hosts().setChecked(i, true); // some rows feed the message pane
    qm::ui::MainWindow window(system, prompt);
    window.resize(1280, 800);
    window.show();
    window.action(qm::ui::MainWindow::MessagePane)->trigger();
    QApplication::processEvents();

    long results = 0;
    QObject::connect(&system.controller(), &qm::MonitorController::resultHandled,
                     [&](const qm::PollReport&) { ++results; });

    QElapsedTimer clock;
    clock.start();
    window.action(qm::ui::MainWindow::Start)->trigger();
    const qint64 startMs = clock.elapsed();

    // The probe timer: how late each 10 ms tick comes is the event latency.
    std::vector<double> lateness;
    qint64 expected = clock.elapsed() + 10;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        lateness.push_back(static_cast<double>(std::max<qint64>(0, now - expected)));
        expected = now + 10;
    });
    probe.start(10);

    // The operator's side: a header click every five seconds (the list is
    // always sorted) and the list scrolled now and then.
    auto* list = window.hostList();
    int sorts = 0;
    QTimer activity;
    QObject::connect(&activity, &QTimer::timeout, [&] {
        list->sorter().sortOnce(system.hosts(), ++sorts % 2 ? qm::ColResponseTime : qm::ColHost);
        list->verticalScrollBar()->setValue((sorts * 997) % std::max(1, list->verticalScrollBar()->maximum()));
    });
    list->sorter().sortOnce(system.hosts(), qm::ColHost);
    activity.start(5000);

    long rssPeak = 0;
    QTimer memory;
    QObject::connect(&memory, &QTimer::timeout, [&] { rssPeak = std::max(rssPeak, qm::bench::RssKiB()); });
    memory.start(1000);

    QTimer::singleShot(seconds * 1000, &app, [&] {
        probe.stop();
        activity.stop();
        window.action(qm::ui::MainWindow::Stop)->trigger();
        QTimer::singleShot(0, &app, &QApplication::quit);
    });
    QApplication::exec();
    rssPeak = std::max(rssPeak, qm::bench::RssKiB());

    const qint64 stopAt = clock.elapsed();
    while (system.controller().liveThreads() > 0 && clock.elapsed() - stopAt < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);

    std::printf("hosts                     %d at %d s for %d s\n", hosts, freq, seconds);
    std::printf("start                     %lld ms\n", static_cast<long long>(startMs));
    std::printf("results handled           %ld (%.0f per second)\n", results, double(results) / seconds);
    std::printf("event latency p50/p99/max %.1f / %.1f / %.1f ms over %zu ticks (target p99 < 50 ms)\n",
                Percentile(lateness, 50), Percentile(lateness, 99), Percentile(lateness, 100), lateness.size());
    std::printf("memory                    %ld KiB before, %ld KiB peak (%.1f KiB per host)\n", rssBefore, rssPeak,
                double(rssPeak - rssBefore) / hosts);
    std::printf("workers left after stop   %d\n", system.controller().liveThreads());
    return 0;
}
