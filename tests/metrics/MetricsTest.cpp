// Prometheus metrics: the exposition checked by promtool, then a running
// quillmere-monitor scraped by a real Prometheus on loopback.

#include "support/Command.h"
#include "support/EventPump.h"
#include "support/ScriptedServer.h"
#include "support/ServerProcess.h"

#include "metrics/MetricsText.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <unistd.h>

namespace qm::test {
namespace {

using namespace std::chrono_literals;

const char kPromtool[] = "/usr/bin/promtool";
const char kPrometheus[] = "/usr/bin/prometheus";

struct HttpReply
{
    int status = 0;
    std::string head; // status line and header lines
    std::string body;
};

// One request on 127.0.0.1 with Connection: close; every wait bounded to 5 s.
HttpReply HttpGet(int port, const std::string& target, const std::string& method = "GET")
{
    HttpReply reply;
    ScriptedConnection c(ConnectLoopback(port));
    std::string raw;
    if (c.fd() >= 0) {
        c.send(method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        raw = c.receiveAll(std::chrono::seconds(5));
        c.close();
    }
    const auto head = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) == 0 && head != std::string::npos) {
        reply.status = std::stoi(raw.substr(9, 3));
        reply.head = raw.substr(0, head + 2);
        reply.body = raw.substr(head + 4);
    }
    return reply;
}

// promtool's verdict on an exposition: empty when it is accepted.
std::string PromtoolProblems(const QByteArray& text, const QTemporaryDir& dir)
{
    const std::string file = dir.filePath("exposition.txt").toStdString();
    WriteFile(file, text.toStdString());
    const CommandResult r = RunCommand(std::string(kPromtool) + " check metrics < " + file, 30);
    return r.status == 0 ? std::string() : r.output + "\n" + text.toStdString();
}

TEST(MetricsText, OddLabelValuesStayParseableAndEntriesKeepTheirSeriesAcrossRuns)
{
    ASSERT_EQ(RequireProgram(kPromtool, "prometheus"), "");
    const struct
    {
        QString value;
        QByteArray escaped;
    } cases[] = {
        {"plain", "plain"},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"C:\\path\\", "C:\\\\path\\\\"},
        {"two\nlines", "two\\nlines"},
        {QString::fromUtf8("bücher.例え.jp"), "b\xc3\xbc" "cher.\xe4\xbe\x8b\xe3\x81\x88.jp"},
        {"", ""},
    };
    // Each entry distinct by its port, the odd value in every other label; the
    // figures go through the registry as the main thread feeds it.
    MetricsRegistry registry;
    std::vector<MetricsRunEntry> run;
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeLabelValue(c.value), c.escaped) << c.value.toStdString();
        const auto n = static_cast<uint32_t>(run.size() + 1);
        run.push_back({n, n, {c.value, c.value, QString::number(n - 1), c.value}});
    }
    registry.startRun(run);
    for (uint32_t n = 1; n <= run.size(); ++n)
        registry.recordResult(n, n % 2 == 1, false, 0, 250);
    const QByteArray text = RenderMetrics(registry.snapshot());
    QTemporaryDir dir;
    EXPECT_EQ(PromtoolProblems(text, dir), "");
    EXPECT_TRUE(text.contains("quillmere_up{host=\"say \\\"hi\\\"\",protocol=\"say \\\"hi\\\"\",port=\"1\","
                              "nickname=\"say \\\"hi\\\"\"} 0\n"));
    EXPECT_TRUE(text.contains("quillmere_response_time_seconds{host=\"plain\",protocol=\"plain\",port=\"0\","
                              "nickname=\"plain\"} 0.25\n"));
    // No response time before a success.
    EXPECT_FALSE(text.contains("quillmere_response_time_seconds{host=\"say"));
    EXPECT_TRUE(text.contains("\nquillmere_results_handled_total 6\n"));
    EXPECT_EQ(text.count("\nquillmere_failures_total{"), qsizetype(std::size(cases)));

    // The next run: the first entry removed, the second edited, a twin of the
    // third added. The third keeps its figures and, its labels now shared,
    // gets an entry label; the twin has no sample before its first result.
    run.erase(run.begin());
    run.front().labels.nickname = "edited";
    run.push_back({99, 99, run[1].labels});
    registry.startRun(run);
    registry.recordResult(3, true, false, 0, 250);
    const QByteArray next = RenderMetrics(registry.snapshot());
    EXPECT_EQ(next.count("\nquillmere_polls_total{"), 4) << next.toStdString();
    EXPECT_TRUE(next.contains("\nquillmere_polls_total{host=\"C:\\\\path\\\\\",protocol=\"C:\\\\path\\\\\",port=\"2\","
                              "nickname=\"C:\\\\path\\\\\",entry=\"3\"} 2\n"))
        << next.toStdString();
    EXPECT_EQ(next.count(",entry=\""), 6); // its six per-entry samples only
}

class MetricsEndToEnd : public ::testing::Test
{
protected:
    int runMonitor(const QStringList& args, QString* err = nullptr)
    {
        QProcess p;
        p.start(QUILLMERE_MONITOR_BIN, QStringList{"--settings", m_dir.filePath("quillmere.conf")} + args);
        EXPECT_TRUE(p.waitForFinished(30000)) << args.join(' ').toStdString();
        if (err)
            *err = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    // Waits, asking at most five times a second, until `done` holds.
    static bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout)
    {
        QElapsedTimer since;
        bool first = true;
        return PumpEventsUntil(
            [&] {
                if (!first && since.elapsed() < 200)
                    return false;
                first = false;
                since.start();
                return done();
            },
            timeout);
    }

    QTemporaryDir m_dir;
};

TEST_F(MetricsEndToEnd, PrometheusScrapesTheRunnerAndSeesEachEntryUpOrDown)
{
    ASSERT_EQ(RequireProgram(kPromtool, "prometheus"), "");
    ASSERT_EQ(RequireProgram(kPrometheus, "prometheus"), "");

    QString err;
    for (const QString bad : {"127.0.0.1", "::1:9464", "127.0.0.1:0", "[::1]:http"}) {
        EXPECT_EQ(runMonitor({"--metrics-listen", bad}, &err), 2) << bad.toStdString();
        EXPECT_TRUE(err.contains("--metrics-listen")) << err.toStdString();
    }

    const QString refused = QString::number(FreeLoopbackPort());
    ASSERT_EQ(runMonitor({"hosts", "add", "--host", "127.0.0.1", "--protocol", "ECHO", "--freq", "1",
                          "--nickname", "echo \"q\""}),
              0);
    // Two checks with the same labels: each keeps its own series.
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(runMonitor({"hosts", "add", "--host", "127.0.0.1", "--protocol", "HTTP", "--port", refused,
                              "--freq", "1"}),
                  0);

    const int metricsPort = FreeLoopbackPort();
    ServerProcess monitor;
    ASSERT_TRUE(monitor.start({QUILLMERE_MONITOR_BIN, "--settings", m_dir.filePath("quillmere.conf").toStdString(),
                               "--database", m_dir.filePath("results.mdb").toStdString(), "--metrics-listen",
                               "127.0.0.1:" + std::to_string(metricsPort)},
                              m_dir.filePath("monitor.log").toStdString()));
    ASSERT_TRUE(WaitForTcpPort(metricsPort, 10s)) << monitor.log();

    HttpReply metrics;
    ASSERT_TRUE(WaitFor(
        [&] {
            metrics = HttpGet(metricsPort, "/metrics");
            return QByteArray::fromStdString(metrics.body).count("quillmere_up{host=\"127.0.0.1\",protocol=\"HTTP\"") == 2
                && metrics.body.find("quillmere_up{host=\"127.0.0.1\",protocol=\"ECHO\"") != std::string::npos;
        },
        15s))
        << metrics.body << monitor.log();
    EXPECT_EQ(metrics.status, 200);
    EXPECT_EQ(PromtoolProblems(QByteArray::fromStdString(metrics.body), m_dir), "");
    EXPECT_EQ(HttpGet(metricsPort, "/").status, 404);
    EXPECT_EQ(HttpGet(metricsPort, "/metrics/x").status, 404);
    const HttpReply post = HttpGet(metricsPort, "/metrics", "POST");
    EXPECT_EQ(post.status, 405);
    EXPECT_NE(post.head.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos) << post.head;
    // The empty nickname is exported as such; the twins carry an entry label.
    EXPECT_EQ(QByteArray::fromStdString(metrics.body)
                  .count("\nquillmere_polls_total{host=\"127.0.0.1\",protocol=\"HTTP\",port=\"" + refused.toUtf8()
                         + "\",nickname=\"\",entry=\""),
              2)
        << metrics.body;

    // A port in use: a failure of the run (1), told once with its cause.
    EXPECT_EQ(runMonitor({"--database", m_dir.filePath("other.mdb"), "--metrics-listen",
                          "127.0.0.1:" + QString::number(metricsPort)},
                         &err),
              1);
    EXPECT_TRUE(err.contains("127.0.0.1:" + QString::number(metricsPort))) << err.toStdString();
    EXPECT_EQ(err.count("Address already in use"), 1) << err.toStdString();

    const int webPort = FreeLoopbackPort();
    const std::string config = m_dir.filePath("prometheus.yml").toStdString();
    WriteFile(config, "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                      "scrape_configs:\n  - job_name: quillmere\n    static_configs:\n"
                      "      - targets: ['127.0.0.1:" + std::to_string(metricsPort) + "']\n");
    ServerProcess prometheus;
    ASSERT_TRUE(prometheus.start({kPrometheus, "--config.file=" + config,
                                  "--storage.tsdb.path=" + m_dir.filePath("tsdb").toStdString(),
                                  "--web.listen-address=127.0.0.1:" + std::to_string(webPort)},
                                 m_dir.filePath("prometheus.log").toStdString()));
    ASSERT_TRUE(WaitForTcpPort(webPort, 20s)) << prometheus.log();

    // Each entry's quillmere_up as Prometheus stores it, by protocol and entry.
    std::map<QString, QJsonObject> up;
    HttpReply query;
    const bool scraped = WaitFor(
        [&] {
            query = HttpGet(webPort, "/api/v1/query?query=quillmere_up");
            up.clear();
            const QJsonArray result = QJsonDocument::fromJson(QByteArray::fromStdString(query.body))
                                          .object()["data"].toObject()["result"].toArray();
            for (const QJsonValue& series : result)
                up[series["metric"]["protocol"].toString() + series["metric"]["entry"].toString()] = series.toObject();
            return up.size() == 3;
        },
        30s);
    ASSERT_TRUE(scraped) << query.body << prometheus.log();
    auto label = [&](const char* protocol, const char* name) {
        return up[protocol]["metric"].toObject()[name].toString();
    };
    EXPECT_EQ(up["ECHO"]["value"].toArray()[1].toString(), "1");
    EXPECT_EQ(label("ECHO", "nickname"), "echo \"q\"");
    EXPECT_EQ(label("ECHO", "job"), "quillmere");
    EXPECT_FALSE(up["ECHO"]["metric"].toObject().contains("entry"));
    for (const char* http : {"HTTP1", "HTTP2"}) {
        EXPECT_EQ(up[http]["value"].toArray()[1].toString(), "0") << http;
        EXPECT_EQ(label(http, "port"), refused) << http;
    }
}

} // namespace
} // namespace qm::test
