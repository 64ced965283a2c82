#include "probes/ProbeSocket.h"
#include "support/RecordingSink.h"
#include "support/ScriptedServer.h"
#include "support/ServerProcess.h"
#include "tools/ServiceProbes.h"

#include <deque>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <regex>
#include <thread>
#include <unistd.h>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;
using Report = RecordingSink::Report;
using Texts = std::vector<std::string>;

namespace {

using ProbeFn = void (*)(ProbeSocket&, const std::string&, int);

std::vector<Report> RunProbe(ProbeFn probeFn, int port)
{
    RecordingSink sink;
    ProbeSocket probe(sink);
    probeFn(probe, "127.0.0.1", port);
    return sink.results();
}

std::string LogPath(const std::string& what)
{
    return "/tmp/qm-tools-" + what + "-" + std::to_string(::getpid());
}

// xinetd serving its built-in TIME, DAYTIME and CHARGEN streams on loopback.
class ToolsXinetd : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_time = FreeLoopbackPort();
        s_daytime = FreeLoopbackPort();
        s_chargen = FreeLoopbackPort();
        auto service = [](const char* name, const char* id, int port) {
            return std::string("service ") + name + "\n{\n  type = INTERNAL UNLISTED\n  id = " + id
                 + "\n  socket_type = stream\n  protocol = tcp\n  wait = no\n  user = root\n  port = "
                 + std::to_string(port) + "\n  bind = 127.0.0.1\n}\n";
        };
        const std::string conf = LogPath("xinetd") + ".conf";
        WriteFile(conf, "defaults\n{\n}\n" + service("time", "time-stream", s_time)
                            + service("daytime", "daytime-stream", s_daytime)
                            + service("chargen", "chargen-stream", s_chargen));
        s_server = new ServerProcess;
        s_server->start({"/usr/sbin/xinetd", "-dontfork", "-pidfile", LogPath("xinetd") + ".pid", "-f", conf},
                        conf + ".log");
        WaitForTcpPort(s_time, 10s);
        WaitForTcpPort(s_daytime, 10s);
        WaitForTcpPort(s_chargen, 10s);
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_EQ(RequireProgram("/usr/sbin/xinetd", "xinetd"), "");
        ASSERT_TRUE(s_server && s_server->running()) << s_server->log();
    }
    static inline int s_time = 0, s_daytime = 0, s_chargen = 0;
    static inline ServerProcess* s_server = nullptr;
};

// A program behind socat, one instance per connection.
class SocatServer
{
public:
    SocatServer(const std::string& program, const std::string& name)
    {
        m_port = FreeLoopbackPort();
        m_process.start({"/usr/bin/socat",
                         "TCP-LISTEN:" + std::to_string(m_port) + ",bind=127.0.0.1,fork,reuseaddr",
                         "EXEC:" + program},
                        LogPath(name) + ".log");
        m_ready = WaitForTcpPort(m_port, 10s);
    }
    int port() const { return m_port; }
    bool ready() const { return m_ready; }

private:
    ServerProcess m_process;
    int m_port = 0;
    bool m_ready = false;
};

} // namespace

TEST_F(ToolsXinetd, BuiltInServices)
{
    auto results = RunProbe(ProbeTime, s_time);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, Report::Success);
    EXPECT_EQ(results[0].result.responseTime, 0u);
    // The server's clock is this machine's: the text names today (UTC).
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char today[32];
    std::strftime(today, sizeof(today), "%a %b %d ", &utc);
    EXPECT_EQ(results[0].result.message.rfind(today, 0), 0u) << results[0].result.message;
    EXPECT_TRUE(std::regex_match(results[0].result.message,
                                 std::regex(R"([A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4})")))
        << results[0].result.message;

    // DAYTIME is one line without its end.
    results = RunProbe(ProbeDaytime, s_daytime);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, Report::Success);
    EXPECT_TRUE(std::regex_match(results[0].result.message, std::regex(R"(\d\d [A-Z]{3} \d{4} \d\d:\d\d:\d\d UTC)")))
        << results[0].result.message;

    // CHARGEN gives its first line.
    results = RunProbe(ProbeChargen, s_chargen);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, Report::Success);
    EXPECT_EQ(results[0].result.message,
              "!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefgh");
}

TEST(ToolsQuoteOfTheDay, RealQuoteIsTakenWholeAndTrimmed)
{
    ASSERT_EQ(RequireProgram("/usr/games/fortune", "fortune-mod"), "");
    ASSERT_EQ(::access("/usr/share/games/fortunes/fortunes", R_OK), 0)
        << "the quotes are missing: install the Debian package fortunes-min (scripts/install-deps.sh does)";
    ASSERT_EQ(RequireProgram("/usr/bin/socat", "socat"), "");
    SocatServer server("/usr/games/fortune", "qotd");
    ASSERT_TRUE(server.ready());
    const auto results = RunProbe(ProbeQuoteOfTheDay, server.port());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, Report::Success);
    const std::string& m = results[0].result.message;
    ASSERT_FALSE(m.empty());
    EXPECT_FALSE(std::isspace(static_cast<unsigned char>(m.front())));
    EXPECT_FALSE(std::isspace(static_cast<unsigned char>(m.back())));
}

TEST(ToolsServiceProbes, OneReplyThenClose)
{
    struct Case
    {
        ProbeFn probe;
        std::string reply;
        Report::Kind kind;
        std::string message;
    };
    const std::vector<Case> cases = {
        {ProbeTime, std::string("\x83\xAA\x7E", 3), Report::Failure, "Unable to get time"},
        {ProbeTime, std::string("\x83\xAA\x7E\x80", 4), Report::Success, "Thu Jan 01 00:00:00 1970"},
        // Without a login prompt: the filtered text, without option bytes and "!".
        {ProbeTelnet, std::string("\xFF\xFD\x01Go away!\r\n", 13), Report::Failure, "Go away"},
        // Line services: the first line, trimmed, at most 65536 bytes.
        {ProbeWhoisPlusPlus, "  %rwhois V-1.5 ready\r\nsecond\r\n", Report::Success, "%rwhois V-1.5 ready"},
        {ProbeRwhois, std::string(70000, 'x') + "\n", Report::Success, std::string(65536, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.substr(0, 40));
        ScriptedServer server([&](ScriptedConnection& conn) { conn.send(c.reply); });
        const auto results = RunProbe(c.probe, server.port());
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].kind, c.kind);
        EXPECT_EQ(results[0].result.message, c.message);
    }
}

TEST(ToolsTimeProbe, ValuesAroundTheEpochAndTheEra)
{
    EXPECT_EQ(FormatTimeValue(2208988800u + 86400u * 9 + 3661), "Sat Jan 10 01:01:01 1970");
    EXPECT_EQ(FormatTimeValue(0xFFFFFFFFu), "Thu Feb 07 06:28:15 2036");
    // A count from before 1970 is read in the era that starts in 2036.
    EXPECT_EQ(FormatTimeValue(0), "Thu Feb 07 06:28:16 2036");
    EXPECT_EQ(FormatTimeValue(2208988799u), "Sun Feb 07 06:28:15 2106");
}

TEST(ToolsTelnet, RealServerShowsItsLoginPromptToARefusingClient)
{
    ASSERT_EQ(RequireProgram("/usr/sbin/telnetd", "inetutils-telnetd"), "");
    ASSERT_EQ(RequireProgram("/usr/bin/socat", "socat"), "");
    SocatServer server("/usr/sbin/telnetd", "telnetd");
    ASSERT_TRUE(server.ready());
    const auto start = std::chrono::steady_clock::now();
    const auto results = RunProbe(ProbeTelnet, server.port());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, Report::Success) << results[0].result.message;
    const std::string& m = results[0].result.message;
    EXPECT_EQ(m.substr(m.size() - 5), "login");
    EXPECT_NE(m.find("Linux"), std::string::npos) << m;
}

TEST(ToolsTelnet, EveryOptionIsRefusedAndNothingElseSent)
{
    ScriptedServer server([](ScriptedConnection& c) {
        // DO ECHO, WILL SUPPRESS-GO-AHEAD, DONT LINEMODE, a subnegotiation.
        c.send(std::string("\xFF\xFD\x01\xFF\xFB\x03\xFF\xFE\x22\xFF\xFA\x18\x01\xFF\xF0", 15));
        c.receiveUntil(std::string("\xFF\xFE\x03", 3), 2000ms);
        c.send("Welcome\r\nlogin: ");
        c.receiveAll(1000ms);
    });
    const auto results = RunProbe(ProbeTelnet, server.port());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, Report::Success);
    // The filter drops IAC, command and option bytes and the colon; the byte
    // after IAC SE goes with it, as the filter has always counted.
    EXPECT_EQ(results[0].result.message, "elcome\r\nlogin");
    const auto received = server.waitForReceived(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], std::string("\xFF\xFC\x01\xFF\xFE\x03", 6));
}

TEST(ToolsWhois, AsksForTheDomainAndKeeps255Characters)
{
    ScriptedServer server([](ScriptedConnection& c) {
        c.receiveUntil("\r\n", 2000ms);
        c.send(std::string(1000, 'w'));
    });
    const auto results = RunProbe(ProbeWhois, server.port());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, Report::Success);
    EXPECT_EQ(results[0].result.message, std::string(255, 'w'));
    const auto received = server.waitForReceived(1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], "domain " + DefaultWhoisDomain() + "\r\n");
}

// A server that trickles one byte every 50 ms, never a line end, until the
// probe hangs up; with the bounds shortened, each probe must give up with a
// failure and nothing after it. One more server answers every command, whole,
// but each 300 ms late: only the bound of the whole exchange ends that one.
// Silent after one byte, a line service fails at its 1 s idle wait; silent
// from the start, it also reports the empty text as its answer.
TEST(ToolsServiceProbes, TricklingServersEndEveryStreamProbeWithAFailure)
{
    const auto trickle = [](ScriptedConnection& c) {
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < until && ::send(c.fd(), ".", 1, MSG_NOSIGNAL) == 1)
            std::this_thread::sleep_for(50ms);
    };
    const auto late = [](ScriptedConnection& c) {
        for (int i = 0; i < 8; ++i) {
            std::this_thread::sleep_for(300ms);
            c.send(i == 0 ? "220 mx\r\n" : "250 ok\r\n");
            if (c.receiveUntil("\n", 2s).empty())
                return;
        }
    };
    const auto stall = [](ScriptedConnection& c) {
        c.send(".");
        c.receiveAll(3s);
    };
    const auto silent = [](ScriptedConnection& c) { c.receiveAll(3s); };
    using Probe = std::function<void(ProbeSocket&, int)>;
    const Texts timedOut{"fail: Timed out"}, dialogue{"fail: Timed out", "fail: "};
    struct Case
    {
        const char* name;
        Probe probe;
        Texts reports;
        ScriptedServer::Script script = nullptr;
        // Ended by the reply bound, well before the exchange bound.
        std::chrono::milliseconds min{0}, max{1300};
        int replyMs = 500, exchangeMs = 1500;
    };
    const auto service = [](ProbeFn fn) { return [fn](ProbeSocket& p, int port) { fn(p, "127.0.0.1", port); }; };
    const std::vector<Case> cases = {
        {"HTTP", [](ProbeSocket& p, int port) { p.ProbeHttp("127.0.0.1", port, "", ""); }, timedOut},
        {"POP3", [](ProbeSocket& p, int port) { p.ProbePop3("127.0.0.1", port, "u", "p", ""); }, dialogue},
        {"IMAP4", [](ProbeSocket& p, int port) { p.ProbeImap4("127.0.0.1", port, "u", "p", ""); }, dialogue},
        {"SMTP", [](ProbeSocket& p, int port) { p.ProbeSmtp("127.0.0.1", port, "u", "", "@d"); }, dialogue},
        {"ESMTP", [](ProbeSocket& p, int port) { p.ProbeEsmtp("127.0.0.1", port, "u", "", "@d"); }, dialogue},
        {"FTP", [](ProbeSocket& p, int port) { p.ProbeFtp("127.0.0.1", port, "u", "p"); }, dialogue},
        {"NNTP", [](ProbeSocket& p, int port) { p.ProbeNntp("127.0.0.1", port, "", "", ""); }, dialogue},
        {"TELNET", service(ProbeTelnet), {"fail: "}},
        {"WHOIS", service(ProbeWhois), timedOut},
        {"TIME", service(ProbeTime), {"fail: Unable to get time"}},
        {"DAYTIME", service(ProbeDaytime), timedOut},
        {"QUOTE OF THE DAY", service(ProbeQuoteOfTheDay), timedOut},
        {"CHARGEN", service(ProbeChargen), timedOut},
        {"WHOIS++", service(ProbeWhoisPlusPlus), timedOut},
        {"RWHOIS", service(ProbeRwhois), timedOut},
        {"SMTP, late", [](ProbeSocket& p, int port) { p.ProbeSmtp("127.0.0.1", port, "u", "", "@d"); }, dialogue, late,
         1450ms, 2500ms},
        {"QUOTE OF THE DAY, stalled", service(ProbeQuoteOfTheDay), timedOut, stall, 950ms, 1800ms, 5000, 5000},
        {"QUOTE OF THE DAY, silent", service(ProbeQuoteOfTheDay), {"fail: Timed out", "ok: "}, silent, 950ms, 1800ms,
         5000, 5000},
    };
    std::deque<ScriptedServer> servers;
    std::vector<Texts> reports(cases.size());
    std::vector<std::chrono::milliseconds> took(cases.size());
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const int port = servers.emplace_back(cases[i].script ? cases[i].script : trickle).port();
        runs.emplace_back([&, i, port] {
            const auto start = std::chrono::steady_clock::now();
            RecordingSink sink;
            ProbeSocket probe(sink);
            probe.setLimits({kConnectTimeoutMs, cases[i].replyMs, cases[i].exchangeMs});
            cases[i].probe(probe, port);
            took[i] = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            for (const auto& r : sink.results())
                reports[i].push_back((r.kind == Report::Success ? "ok: " : "fail: ") + r.result.message);
        });
    }
    for (auto& t : runs)
        t.join();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(reports[i], cases[i].reports) << cases[i].name;
        EXPECT_GE(took[i], cases[i].min) << cases[i].name;
        EXPECT_LT(took[i], cases[i].max) << cases[i].name;
    }
}

TEST(ToolsServiceProbes, RefusedConnection)
{
    const int port = FreeLoopbackPort();
    const auto results = RunProbe(ProbeDaytime, port);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result.message, "Connect Failed The attempt to connect was forcefully rejected.");
}
