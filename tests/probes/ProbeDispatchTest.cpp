// Every protocol name through the dispatch, against scripted servers that
// answer only their own protocol's exchange: what each probe sends and how it
// judges each reply. A name that ran another protocol's probe, or passed the
// host's fields in the wrong places, fails its rows.
#include "probes/ProbeRun.h"
#include "probes/ProtocolTable.h"
#include "support/Command.h"
#include "support/ServerProcess.h"
#include "support/TestNamespace.h"
#include "support/UdpScriptedServer.h"
#include "tools/ServiceProbes.h"

#include <algorithm>
#include <deque>
#include <gtest/gtest.h>
#include <thread>

namespace qm::test {
namespace {

using namespace std::chrono_literals;

// A line server: the greeting, then one reply for each line the probe sends
// (nothing once they run out), then it waits (bounded) for the probe to close,
// or hangs up at once.
struct Dialogue
{
    std::string greeting;
    std::vector<std::string> replies;
    std::chrono::milliseconds greetingDelay{0};
    std::chrono::milliseconds lastReplyDelay{0};
    bool hangUp = false;
};

ScriptedServer::Script Lines(Dialogue d)
{
    return [d](ScriptedConnection& conn) {
        std::this_thread::sleep_for(d.greetingDelay);
        conn.send(d.greeting);
        for (std::size_t i = 0; i < d.replies.size(); ++i) {
            const std::string line = conn.receiveUntil("\n");
            if (line.empty() || line.back() != '\n')
                return; // the probe stopped talking
            if (i + 1 == d.replies.size())
                std::this_thread::sleep_for(d.lastReplyDelay);
            conn.send(d.replies[i]);
        }
        if (d.hangUp)
            conn.close();
        else
            conn.receiveAll(5s);
    };
}

// A web server: reads the request, answers with the bytes and hangs up.
ScriptedServer::Script Web(std::string reply, std::chrono::milliseconds delay = 0ms)
{
    return [reply = std::move(reply), delay](ScriptedConnection& c) {
        c.receiveUntil("\r\n\r\n");
        std::this_thread::sleep_for(delay);
        c.send(reply);
        c.close();
    };
}

std::string Head(const std::string& host, const std::string& authorization = "")
{
    return "HEAD / HTTP/1.1\r\nAccept: text/html\r\nHOST: " + host + "\r\n" +
           (authorization.empty() ? "" : "Authorization: Basic " + authorization + "\r\n") +
           "Connection: close\r\n\r\n";
}

// The probed host's fields.
struct Entry
{
    std::string user = "qmprobe";
    std::string password = "Pr0be-secret";
    std::string domain = "@probe.lan";
    std::string address = "127.0.0.1";
};

struct Row
{
    std::string protocol;
    ScriptedServer::Script tcp; // the server, when it speaks TCP
    Texts reports;
    std::optional<std::string> sent = std::nullopt; // every byte the probe sent (UDP: its first datagram)
    Entry entry = {};
    uint32_t minMs = 0; // bounds of the response time of a success
    uint32_t maxMs = 10000;
    UdpScriptedServer::Script udp = nullptr; // the server, when it speaks UDP
};

struct Servers
{
    std::optional<ScriptedServer> tcp;
    std::optional<UdpScriptedServer> udp;
};

TEST(ProbeDispatch, EveryProtocolNameRunsItsOwnProbeAndJudgesEachReply)
{
    // What `hostname -f` says stands in for an empty user id in HELO and EHLO.
    const CommandResult hostname = RunCommand("hostname -f", 10);
    ASSERT_EQ(hostname.status, 0) << hostname.output;
    const std::string machine = TrimText(hostname.output);
    ASSERT_FALSE(machine.empty());
    const std::string ok = "HTTP/1.1 200 OK\r\nServer: demo/1.0\r\n\r\n";
    // A line that comes after the 1 s wait of most line services, but within
    // the 10 s of DAYTIME.
    const auto lateLine = [](ScriptedConnection& c) {
        std::this_thread::sleep_for(1300ms);
        c.send("06 DEC 2026 12:00:00 UTC\r\n");
        c.receiveAll(5s);
    };
    // Sends its greeting and hangs up.
    const auto greet = [](std::string greeting) { return Lines({std::move(greeting), {}, 0ms, 0ms, true}); };

    const Row rows[] = {
        {"ECHO", nullptr, {"ok: Success"}},
        // The request as entered, with Basic credentials when there is a password.
        {"HTTP", Web(ok), {"ok: HTTP/1.1 200 OK [demo/1.0]"}, Head("127.0.0.1"), {"", "", ""}},
        {"HTTP", Web(ok), {"ok: HTTP/1.1 200 OK [demo/1.0]"}, Head("localhost"), {"", "", "", "localhost"}},
        {"HTTP", Web(ok), {"ok: HTTP/1.1 200 OK [demo/1.0]"}, Head("localhost", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="),
         {"Aladdin", "open sesame", "", "localhost"}},
        {"HTTP", Web(ok), {"ok: HTTP/1.1 200 OK [demo/1.0]"}, Head("127.0.0.1", "OnNlY3JldA=="), {"", "secret", ""}},
        {"HTTP", Web(ok), {"ok: HTTP/1.1 200 OK [demo/1.0]"}, Head("127.0.0.1"), {"Aladdin", "", ""}},
        // The time covers the server's handling.
        {"HTTP", Web("HTTP/1.1 200 OK\r\nServer: slow\r\n\r\n", 300ms), {"ok: HTTP/1.1 200 OK [slow]"}, {}, {}, 290,
         3000},
        {"HTTP", Web("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), {"ok: HTTP/1.1 200 OK []"}},
        {"HTTP", Web("HTTP/1.1 2000 Wide\r\nServer: odd\r\n\r\n"), {"ok: HTTP/1.1 2000 Wide [odd]"}},
        {"HTTP", Web("HTTP/1.1 200 OK"), {"fail: "}},
        {"HTTP", Web(""), {}},
        // The response is trimmed before its status line is taken: a lone
        // status line has no line feed left after it.
        {"HTTP", Web("HTTP/1.1 200 OK\r\n\r\n"), {"fail: "}},
        {"HTTP", Web("HTTP/1.0 200 OK\r\nserver: lower\r\nServer: \t real/2 \r\nServer: second\r\n\r\n"),
         {"ok: HTTP/1.0 200 OK [real/2]"}},
        {"HTTP", Web("\r\n\r\n  HTTP/1.1 200 OK  \r\nServer: demo\r\n"), {"ok: HTTP/1.1 200 OK [demo]"}},
        {"HTTP", Web("HTTP/1.1 20\r\nServer: demo\r\n\r\n"), {"fail: HTTP/1.1 20"}},
        {"HTTP", Web("HTTP/1.1 +200 OK\r\nDate: today\r\n\r\n"), {"fail: HTTP/1.1 +200 OK"}},
        {"HTTP", Web("ICY 200 OK\r\nServer: radio\r\n\r\n"), {"fail: ICY 200 OK"}},
        {"HTTP", Web("<html>200</html>\n<p>HTTP/1.1 200 OK</p>\n"), {"fail: <html>200</html>"}},
        // A server that speaks plain HTTP at once fails the TLS handshake.
        {"HTTPS", greet(ok), {"fail: TLS: wrong version number"}},
        // Replies end in CR LF: each is read up to the CR, and the LF left over
        // must not spoil the next comparison. The slow greeting counts; the
        // answer to QUIT is never waited for.
        {"POP3", Lines({"+OK hello there\r\n", {"+OK user\r\n", "+OK pass\r\n", "+OK bye\r\n"}, 400ms, 1500ms}),
         {"ok: +OK hello there"}, "user qmprobe\npass Pr0be-secret\nQUIT\n", {}, 390, 1500},
        {"POP3", Lines({"+OK hi\r\n", {"-ERR no such mailbox\r\n"}}), {"fail: -ERR no such mailbox"}, "user qmprobe\n"},
        {"POP3", Lines({"+ok hello\r\n", {}}), {"fail: +ok hello"}, ""},
        // A close mid-dialogue is no receive failure: one report only.
        {"POP3", Lines({"+OK hi\r\n", {""}, 0ms, 0ms, true}), {"fail: "}, "user qmprobe\n"},
        // Plain credentials go out as they are, others as quoted strings;
        // neither closing command is answered.
        {"IMAP4", Lines({"* OK hi\r\n", {"a001 OK done\r\n"}}), {"ok: * OK hi"},
         "a001 login qmprobe \"p w\\\\x\\\"(1)\"\r\na001 QUIT\r\na001 LOGOUT\r\n", {"qmprobe", "p w\\x\"(1)"}},
        {"IMAP4", Lines({"* OK hi\r\n", {"a001 BAD missing arguments\r\n"}}), {"fail: a001 BAD missing arguments"},
         "a001 login  \r\n", {"", "", ""}},
        {"IMAP4", Lines({"* OK hi\r\n", {"* CAPABILITY IMAP4rev1\r\na001 OK done\r\n"}}),
         {"fail: * CAPABILITY IMAP4rev1"}, "a001 login qmprobe Pr0be-secret\r\n"},
        {"IMAP4", Lines({"* PREAUTH welcome back\r\n", {}}), {"fail: * PREAUTH welcome back"}, ""},
        // Replies are read whole and stand for their last line. The slow QUIT
        // reply is part of the measured time.
        {"SMTP",
         Lines({"220-mx first line\r\n220 mx ready\r\n",
                {"250-mx hello\r\n250-SIZE 1000\r\n250 HELP\r\n", "250 sender ok\r\n", "250 rcpt ok\r\n",
                 "250 reset\r\n", "221 bye\r\n"},
                0ms, 400ms}),
         {"ok: 220 mx ready"},
         "HELO qmprobe\r\nMAIL FROM: qmprobe@probe.lan \r\nRCPT TO: qmprobe@probe.lan \r\nRSET \r\nQUIT \r\n", {}, 390},
        // The same address is sender and recipient; a refused one ends the walk.
        {"SMTP", Lines({"220 mx\r\n", {"250 hello\r\n", "250 ok\r\n", "550-no relaying\r\n550 for you\r\n"}}),
         {"fail: 550 for you"}, "HELO ops@\r\nMAIL FROM: ops@corp.lan \r\nRCPT TO: ops@corp.lan \r\n",
         {"ops@", "", "corp.lan"}},
        {"SMTP", Lines({"220 mx\r\n", {"501 Syntax: HELO hostname\r\n"}}), {"fail: 501 Syntax: HELO hostname"},
         "HELO " + machine + "\r\n", {"", "", "@probe.lan"}},
        // A reply the server leaves unended is no reply.
        {"SMTP", Lines({"220-mx going\r\n", {}, 0ms, 0ms, true}), {"fail: "}, ""},
        {"ESMTP", Lines({"220 mx\r\n", {"250 mx hello\r\n", "250 sender ok\r\n", "250 rcpt ok\r\n", "221 bye\r\n"}}),
         {"ok: 220 mx"}, "EHLO qmprobe\r\nMAIL FROM: qmprobe@probe.lan \r\nRCPT TO: qmprobe@probe.lan \r\nQUIT \r\n"},
        {"ESMTP", Lines({"220 mx\r\n", {"250-mx hello\r\n250 HELP\r\n", "250 ok\r\n", "250 ok\r\n", "250 bye\r\n"}}),
         {"ok: 220 mx"}, "EHLO " + machine + "\r\nMAIL FROM: @d \r\nRCPT TO: @d \r\nQUIT \r\n", {"", "", "@d"}},
        // Text lines of a multi-line reply, padded or not, do not end it.
        {"FTP",
         Lines({"220-Welcome to the archive\r\n 220 is not the end\r\n220 ready\r\n",
                {"331 password please\r\n", "230 logged in\r\n", "221 bye\r\n"}, 400ms, 1500ms}),
         {"ok: 220 ready"}, "USER qmprobe\r\nPASS Pr0be-secret\r\nquit\n", {}, 390, 1500},
        // Logged in at once: no password is sent.
        {"FTP", Lines({"220 ready\r\n", {"230 no password needed\r\n"}}), {"ok: 220 ready"}, "USER qmprobe\r\nquit\n"},
        {"FTP", Lines({"220 ready\r\n", {"331 password please\r\n", "530-Login incorrect.\r\n530 Bye.\r\n"}}),
         {"fail: 530 Bye."}, "USER qmprobe\r\nPASS Pr0be-secret\r\n"},
        // The host's credentials play no part; posting allowed or not, it is up.
        {"NNTP", Lines({"200 news ready\r\n", {"500 what?\r\n"}, 300ms}), {"ok: 200 news ready"}, "a001 QUIT\n",
         {"someone", "pw", "@d"}, 290},
        {"NNTP", Lines({"201 news ready, no posting\r\n", {}}), {"ok: 201 news ready, no posting"}, "a001 QUIT\n",
         {"", "", ""}},
        {"NNTP", Lines({"400 service discontinued\r\n", {}}), {"fail: 400 service discontinued"}, ""},
        // Exactly four bytes, read as seconds since 1900.
        {"TIME", greet(std::string("\x83\xAA\x7E\x80", 4)), {"ok: Thu Jan 01 00:00:00 1970"}, ""},
        {"TIME", greet(std::string("\x83\xAA\x7E", 3)), {"fail: Unable to get time"}},
        {"DNS", nullptr, {"ok: Success: A Record Query:[ www.probe.test ] Returned:[ RR IP [10.0.0.7] ]"}, {},
         {"", "", "www.probe.test"}, 0, 10000, [](const std::string& q) -> std::optional<std::string> {
             return q.substr(0, 2) + std::string("\x81\x80\0\1\0\1\0\0\0\0", 10) + q.substr(12) +
                    std::string("\xC0\x0C\0\1\0\1\0\0\0\0\0\4\x0A\0\0\x07", 16);
         }},
        {"DAYTIME", lateLine, {"ok: 06 DEC 2026 12:00:00 UTC"}, ""},
        // Read to the server's close, not to the first line end.
        {"QUOTE OF THE DAY", greet(" Quote, line one.\r\n-- its author\r\n"),
         {"ok: Quote, line one.\r\n-- its author"}, ""},
        {"CHARGEN", lateLine, {"fail: Timed out", "ok: "}},
        {"WHOIS", Lines({"", {std::string(1000, 'w')}, 0ms, 0ms, true}), {"ok: " + std::string(255, 'w')},
         "domain " + DefaultWhoisDomain() + "\r\n"},
        // The first line, trimmed, at most 65536 bytes.
        {"WHOIS++", greet("  %rwhois V-1.5 ready\r\nsecond\r\n"), {"ok: %rwhois V-1.5 ready"}},
        {"RWHOIS", greet(std::string(70000, 'x') + "\n"), {"ok: " + std::string(65536, 'x')}},
        {"SYSLOG", nullptr, {}}, // the syslog listener's, never a probe's
        {"http", nullptr, {}},   // names are compared exactly
        // Every option is refused and nothing else sent. The filter drops IAC,
        // command and option bytes and the colon; the byte after IAC SE goes
        // with it, as the filter has always counted.
        {"TELNET",
         [](ScriptedConnection& c) {
             // DO ECHO, WILL SUPPRESS-GO-AHEAD, DONT LINEMODE, a subnegotiation.
             c.send(std::string("\xFF\xFD\x01\xFF\xFB\x03\xFF\xFE\x22\xFF\xFA\x18\x01\xFF\xF0", 15));
             c.receiveUntil(std::string("\xFF\xFE\x03", 3), 2000ms);
             c.send("Welcome\r\nlogin: ");
             c.receiveAll(1000ms);
         },
         {"ok: elcome\r\nlogin"}, std::string("\xFF\xFC\x01\xFF\xFE\x03", 6)},
        // Without a login prompt: the filtered text fails.
        {"TELNET", greet(std::string("\xFF\xFD\x01Go away!\r\n", 13)), {"fail: Go away"}},
        // The file comes from the entry's domain field; the DATA block is
        // answered with an error that ends the transfer.
        {"TFTP", nullptr, {"ok: TFTP: DATA block 1, 3 bytes"}, std::string("\0\1boot.img\0octet\0", 17),
         {"", "", "boot.img"}, 0, 10000, [](const std::string& q) -> std::optional<std::string> {
             return q[1] == 1 ? std::optional(std::string("\0\3\0\1abc", 7)) : std::nullopt;
         }},
    };
    for (const ProtocolInfo& p : ProtocolTable())
        EXPECT_TRUE(std::ranges::any_of(rows, [&](const Row& r) { return r.protocol == p.name; }))
            << p.name << " has no row";

    // Each row on a thread of its own, so that the slow servers overlap.
    std::deque<Servers> servers(std::size(rows));
    std::vector<std::optional<ProbeRun>> runs(std::size(rows));
    std::vector<char> ran(std::size(rows));
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        PollArgs args = HostArgs(row.entry.address, 0, row.entry.user, row.entry.password, row.entry.domain);
        if (row.tcp)
            args.port = servers[i].tcp.emplace(row.tcp).port();
        if (row.udp)
            args.port = servers[i].udp.emplace(row.udp).port();
        threads.emplace_back([&, i, args] {
            runs[i].emplace([&](ProbeSocket& p) { ran[i] = RunProbe(p, rows[i].protocol, args); });
        });
    }
    for (auto& t : threads)
        t.join();
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.protocol + " row " + std::to_string(i));
        EXPECT_EQ(runs[i]->texts, row.reports);
        EXPECT_EQ(ran[i] != 0, row.tcp || row.udp || !row.reports.empty());
        if (!row.reports.empty() && row.reports.back().starts_with("ok: ")) {
            EXPECT_GE(runs[i]->responseTime, row.minMs);
            EXPECT_LT(runs[i]->responseTime, row.maxMs);
        }
        if (row.sent) {
            const auto udp = row.udp ? servers[i].udp->requests() : std::vector<std::string>{};
            EXPECT_EQ(row.tcp ? FirstConnectionBytes(*servers[i].tcp) : udp.empty() ? "" : udp.front(), *row.sent);
        }
    }
}

// Inside a namespace of the test's own, so that the resolver's queries cannot
// leave it.
TEST(ProbeDispatch, RefusedPortAndUnknownNameAreReportedOnceByEveryStreamProbe)
{
    TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    for (const ProtocolInfo& p : ProtocolTable()) {
        if (p.name == "ECHO" || p.name == "DNS" || p.name == "TFTP" || p.name == "SYSLOG")
            continue;
        const std::string name(p.name);
        Texts refused, unknown;
        ASSERT_EQ(ns.run([&] {
            refused = RunNamed(name, HostArgs("127.0.0.1", FreeLoopbackPort())).texts;
            unknown = RunNamed(name, HostArgs("qm-nowhere.invalid", 80)).texts;
        }),
                  "");
        EXPECT_EQ(refused, Texts{"fail: Connect Failed The attempt to connect was forcefully rejected."}) << name;
        EXPECT_EQ(unknown, Texts{"fail: Can't resolve qm-nowhere.invalid"}) << name;
    }
}

} // namespace
} // namespace qm::test
