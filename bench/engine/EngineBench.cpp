// Many hosts at once: starts one worker per host against a local TCP server
// that answers every connection with an HTTP status line, and measures how many
// results per second the main thread handles, the memory the workers cost, and
// how long a stop takes until every worker has ended.
//
//   engine_bench [HOSTS [SECONDS]]   default: 2000 hosts for 10 seconds
//
// Traffic goes to 127.0.0.1 only; the run ends by itself.

#include "engine/HostListModel.h"
#include "engine/MessagePaneModel.h"
#include "engine/MonitorController.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Resident set size of this process in KiB.
long RssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

// Answers every connection with a status line and closes it.
class LoopbackHttpServer
{
public:
    LoopbackHttpServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 4096);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~LoopbackHttpServer()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    int port() const { return m_port; }

private:
    void run()
    {
        static const char kReply[] = "HTTP/1.1 200 OK\r\nServer: bench\r\n\r\n";
        while (!m_stop) {
            const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            [[maybe_unused]] const ssize_t n = ::send(c, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
            ::close(c);
        }
    }
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

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
