// The small TCP service probes, run by their protocol names, against the
// services of a real xinetd; and the bounds of every stream probe's waits.
#include "probes/ProbeRun.h"
#include "support/ScratchDir.h"
#include "support/ServerProcess.h"
#include "support/TestNamespace.h"
#include "tools/ServiceProbes.h"

#include <ctime>
#include <deque>
#include <gtest/gtest.h>
#include <regex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;

// xinetd serves TIME, DAYTIME and CHARGEN itself, and runs fortune and telnetd
// for the others, on loopback ports of the test's own.
TEST(ToolsServiceProbes, RealServicesOfXinetd)
{
    for (const auto& [program, package] : {std::pair{"/usr/sbin/xinetd", "xinetd"},
                                           {"/usr/games/fortune", "fortune-mod"},
                                           {"/usr/sbin/telnetd", "inetutils-telnetd"}})
        ASSERT_EQ(RequireProgram(program, package), "");
    ASSERT_EQ(::access("/usr/share/games/fortunes/fortunes", R_OK), 0)
        << "the quotes are missing: install the Debian package fortunes-min (scripts/install-deps.sh does)";
    const ScratchDir dir("qm-tools-xinetd");
    // Each protocol, and how xinetd names and serves it.
    const std::pair<std::string, std::string> services[] = {
        {"TIME", "time\n{\n  type = INTERNAL UNLISTED\n  id = time-stream"},
        {"DAYTIME", "daytime\n{\n  type = INTERNAL UNLISTED\n  id = daytime-stream"},
        {"CHARGEN", "chargen\n{\n  type = INTERNAL UNLISTED\n  id = chargen-stream"},
        {"QUOTE OF THE DAY", "qotd\n{\n  type = UNLISTED\n  server = /usr/games/fortune"},
        {"TELNET", "telnet\n{\n  type = UNLISTED\n  server = /usr/sbin/telnetd"},
    };
    std::string conf = "defaults\n{\n}\n";
    std::map<std::string, int> ports;
    for (const auto& [protocol, service] : services) {
        const int port = ports[protocol] = FreeLoopbackPort();
        conf += "service " + service + "\n  socket_type = stream\n  protocol = tcp\n  wait = no\n  user = root\n"
                "  port = " + std::to_string(port) + "\n  bind = 127.0.0.1\n}\n";
    }
    WriteFile(dir / "xinetd.conf", conf);
    ServerProcess xinetd;
    xinetd.start({"/usr/sbin/xinetd", "-dontfork", "-pidfile", dir / "pid", "-f", dir / "xinetd.conf"}, dir / "log");
    for (const auto& [service, port] : ports)
        ASSERT_TRUE(WaitForTcpPort(port, 10s)) << service << ": " << xinetd.log();
    const auto probe = [&](const std::string& name) { return RunNamed(name, HostArgs("127.0.0.1", ports[name])); };

    const ProbeRun time = probe("TIME");
    ASSERT_EQ(time.texts.size(), 1u);
    EXPECT_EQ(time.responseTime, 0u);
    // The server's clock is this machine's: the text names today (UTC).
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char today[32];
    std::strftime(today, sizeof(today), "ok: %a %b %d ", &utc);
    EXPECT_EQ(time.texts[0].rfind(today, 0), 0u) << time.texts[0];
    const std::regex asctime(R"(ok: [A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4})");
    EXPECT_TRUE(std::regex_match(time.texts[0], asctime)) << time.texts[0];
    // DAYTIME is one line without its end.
    const Texts daytime = probe("DAYTIME").texts;
    ASSERT_EQ(daytime.size(), 1u);
    const std::regex daytimeText(R"(ok: \d\d [A-Z]{3} \d{4} \d\d:\d\d:\d\d UTC)");
    EXPECT_TRUE(std::regex_match(daytime[0], daytimeText)) << daytime[0];
    // CHARGEN gives its first line.
    EXPECT_EQ(probe("CHARGEN").texts,
              Texts{"ok: !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefgh"});
    // A quote is taken whole and trimmed.
    const Texts quote = probe("QUOTE OF THE DAY").texts;
    ASSERT_EQ(quote.size(), 1u);
    ASSERT_GT(quote[0].size(), 4u);
    EXPECT_TRUE(quote[0].starts_with("ok: ") && !std::isspace(static_cast<unsigned char>(quote[0][4])) &&
                !std::isspace(static_cast<unsigned char>(quote[0].back())))
        << quote[0];
    // A real server shows its login prompt to a client that refuses its options.
    const auto start = std::chrono::steady_clock::now();
    const Texts telnet = probe("TELNET").texts;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    ASSERT_EQ(telnet.size(), 1u);
    EXPECT_TRUE(telnet[0].starts_with("ok: ") && telnet[0].ends_with("login")) << telnet[0];
    EXPECT_NE(telnet[0].find("Linux"), std::string::npos) << telnet[0];
}

TEST(ToolsTimeProbe, ValuesAroundTheEpochAndTheEra)
{
    EXPECT_EQ(FormatTimeValue(2208988800u + 86400u * 9 + 3661), "Sat Jan 10 01:01:01 1970");
    EXPECT_EQ(FormatTimeValue(0xFFFFFFFFu), "Thu Feb 07 06:28:15 2036");
    // A count from before 1970 is read in the era that starts in 2036.
    EXPECT_EQ(FormatTimeValue(0), "Thu Feb 07 06:28:16 2036");
    EXPECT_EQ(FormatTimeValue(2208988799u), "Sun Feb 07 06:28:15 2106");
}

// A server that trickles one byte every 50 ms, never a line end, until the
// probe hangs up; with the bounds shortened, each probe must give up with a
// failure and nothing after it. One more server answers every command, whole,
// but each 300 ms late: only the bound of the whole exchange ends that one.
// Silent after one byte, a line service fails at its 1 s idle wait; silent
// from the start, it also reports the empty text as its answer. With the
// bounds as they are, a silent server, one that holds the connection after
// its answer, and an address that never answers each end the wait after ten
// seconds. All run side by side.
TEST(ToolsServiceProbes, EveryWaitOfTheStreamProbesEndsAtItsBound)
{
    TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
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
    const auto hold = [](ScriptedConnection& c) { c.receiveAll(15s); };
    const auto heldOpen = [&](ScriptedConnection& c) {
        c.receiveUntil("\r\n\r\n");
        c.send("HTTP/1.1 200 OK\r\nServer: held/1.0\r\nContent-Length: 0\r\n\r\n");
        hold(c);
    };
    const Texts timedOut{"fail: Timed out"}, dialogue{"fail: Timed out", "fail: "};
    struct Case
    {
        const char* name; // the protocol, and what sets the case apart
        Texts reports;
        ScriptedServer::Script script = nullptr;
        // Ended by the reply bound, well before the exchange bound.
        std::chrono::milliseconds min{0}, max{1300};
        int replyMs = 500, exchangeMs = 1500;
        bool unrouted = false; // probes the silent address of the namespace
    };
    const std::vector<Case> cases = {
        {"HTTP", timedOut},
        {"POP3", dialogue},
        {"IMAP4", dialogue},
        {"SMTP", dialogue},
        {"ESMTP", dialogue},
        {"FTP", dialogue},
        {"NNTP", dialogue},
        {"TELNET", {"fail: "}},
        {"WHOIS", timedOut},
        {"TIME", {"fail: Unable to get time"}},
        {"DAYTIME", timedOut},
        {"QUOTE OF THE DAY", timedOut},
        {"CHARGEN", timedOut},
        {"WHOIS++", timedOut},
        {"RWHOIS", timedOut},
        {"SMTP, late", dialogue, late, 1450ms, 2500ms},
        {"QUOTE OF THE DAY, stalled", timedOut, stall, 950ms, 1800ms, 5000, 5000},
        {"QUOTE OF THE DAY, silent", {"fail: Timed out", "ok: "}, silent, 950ms, 1800ms, 5000, 5000},
        {"HTTP, silent", timedOut, hold, 9500ms, 13000ms, kReplyLimitMs, kExchangeLimitMs},
        {"HTTP, held open", {"ok: HTTP/1.1 200 OK [held/1.0]"}, heldOpen, 9500ms, 13000ms, kReplyLimitMs,
         kExchangeLimitMs},
        {"HTTPS, silent", timedOut, hold, 9500ms, 13000ms, kReplyLimitMs, kExchangeLimitMs},
        {"HTTP, unrouted", {"fail: Connect Failed Attempt to connect timed out without establishing a connection."},
         nullptr, 9500ms, 13000ms, kReplyLimitMs, kExchangeLimitMs, true},
    };
    std::deque<ScriptedServer> servers;
    std::vector<std::optional<ProbeRun>> reports(cases.size());
    std::vector<std::chrono::milliseconds> took(cases.size());
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const int port = servers.emplace_back(cases[i].script ? cases[i].script : trickle).port();
        runs.emplace_back([&, i, port] {
            const auto start = std::chrono::steady_clock::now();
            const std::string protocol(cases[i].name);
            const auto probe = [&](ProbeSocket& p) {
                p.setLimits({kConnectTimeoutMs, cases[i].replyMs, cases[i].exchangeMs});
                RunProbe(p, protocol.substr(0, protocol.find(',')),
                         cases[i].unrouted ? HostArgs(TestNamespace::kSilentAddress, 80)
                                           : HostArgs("127.0.0.1", port, "u", "p", "@d"));
            };
            if (cases[i].unrouted) {
                EXPECT_EQ(ns.run([&] { reports[i].emplace(probe); }), "");
            } else {
                reports[i].emplace(probe);
            }
            took[i] = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        });
    }
    for (auto& t : runs)
        t.join();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(reports[i]->texts, cases[i].reports) << cases[i].name;
        // A success counts the time it waited.
        if (!cases[i].reports.empty() && cases[i].reports.back().starts_with("ok: ")) {
            EXPECT_GE(reports[i]->responseTime, uint32_t(cases[i].min.count())) << cases[i].name;
        }
        EXPECT_GE(took[i], cases[i].min) << cases[i].name;
        EXPECT_LT(took[i], cases[i].max) << cases[i].name;
    }
}
