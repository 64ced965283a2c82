// The DNS probe against scripted replies and against dnsmasq and nsd on
// loopback ports.
#include "platform/ThreadId.h"
#include "probes/ProbeRun.h"
#include "support/RecordingPrompt.h"
#include "support/ScratchDir.h"
#include "support/ServerProcess.h"
#include "support/UdpScriptedServer.h"
#include "tools/DnsProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <regex>

using namespace qm;
using namespace qm::test;

namespace {

std::string Be16Bytes(int v)
{
    return {char((v >> 8) & 0xFF), char(v & 0xFF)};
}

// The reply header and question for a query, with the given section counts.
std::string ReplyHead(const std::string& query, int answers, int authority = 0, int additional = 0)
{
    std::string r = query.substr(0, 2) + Be16Bytes(0x8180) + Be16Bytes(1) + Be16Bytes(answers)
                  + Be16Bytes(authority) + Be16Bytes(additional);
    return r + query.substr(12);
}

// A record owned by the question name (pointer to offset 12).
std::string Record(int type, const std::string& data)
{
    return std::string("\xC0\x0C", 2) + Be16Bytes(type) + Be16Bytes(1) + std::string(4, '\0')
         + Be16Bytes(static_cast<int>(data.size())) + data;
}

// The question of a request in dotted form, and its type.
std::pair<std::string, int> Question(const std::string& q)
{
    std::string name;
    std::size_t at = 12;
    while (at < q.size() && q[at] != 0) {
        const std::size_t length = uint8_t(q[at]);
        name += (name.empty() ? "" : ".") + q.substr(at + 1, length);
        at += length + 1;
    }
    return {name, at + 3 <= q.size() ? (uint8_t(q[at + 1]) << 8) | uint8_t(q[at + 2]) : -1};
}

Texts Probe(int port, const std::string& name, OperatorPrompt* prompt = nullptr)
{
    return ProbeRun([&](ProbeSocket& p) { ProbeDns(p, "127.0.0.1", port, name, prompt); }).texts;
}

} // namespace

TEST(ToolsDnsQuery, IsBuiltByHandAndTakesTheFirstReplyWithoutTheTrailingDot)
{
    UdpScriptedServer server([](const std::string& q) -> std::optional<std::string> {
        return ReplyHead(q, 1) + Record(1, std::string("\x0A\x00\x00\x07", 4)); // 10.0.0.7
    });
    RecordingSink sink;
    ProbeSocket probe(sink);
    DnsReply reply{};
    const int received = DNS_Query(probe, "nineteen.chars.test", "127.0.0.1", server.port(), kDnsTypeA, reply);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    // Identifier, recursion desired, one question, the name, type A, class IN.
    EXPECT_EQ(requests[0], Be16Bytes(CurrentThreadId() & 0xFFFF) + std::string("\x01\x00\x00\x01", 4)
                               + std::string(6, '\0') + std::string("\x08nineteen\x05" "chars\x04test\x00", 21)
                               + Be16Bytes(kDnsTypeA) + Be16Bytes(1));
    EXPECT_EQ(received, 37 + 16);
    EXPECT_TRUE(sink.results().empty());

    // A trailing dot is quoted in the texts but not sent.
    EXPECT_EQ(Probe(server.port(), "dotted.test."),
              Texts{"ok: Success: A Record Query:[ dotted.test. ] Returned:[ RR IP [10.0.0.7] ]"});
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].substr(12), std::string("\x06" "dotted\x04test\x00\x00\x01\x00\x01", 17));
}

// dnsmasq answers from its own configuration only.
TEST(ToolsDnsmasq, AnswersOfARealServer)
{
    ASSERT_EQ(RequireProgram("/usr/sbin/dnsmasq", "dnsmasq-base"), "");
    const int port = FreeLoopbackPort(true);
    const ScratchDir dir("qm-tools-dnsmasq");
    const std::string conf = dir / "dnsmasq.conf";
    WriteFile(conf, "port=" + std::to_string(port) + "\n"
                    "listen-address=127.0.0.1\nbind-interfaces\nno-resolv\nno-hosts\npid-file=\n"
                    "local=/test/\n"
                    "host-record=two.test,10.9.0.1\nhost-record=two.test,10.9.0.2\n"
                    "mx-host=mailonly.test,mx1.mailonly.test,10\n"
                    "mx-host=mailonly.test,mx2.mailonly.test,20\n"
                    "cname=alias.test,two.test\n"
                    "ptr-record=3.2.1.10.in-addr.arpa,host.test\n"
                    "ptr-record=2.0.1.10.in-addr.arpa,short.test\n");
    ServerProcess server;
    server.start({"/usr/sbin/dnsmasq", "-d", "-C", conf}, dir / "dnsmasq.log");
    ASSERT_TRUE(WaitForUdpPort(port, std::chrono::seconds(10))) << server.log();
    const std::string mx1 = "mx1.mailonly.test (priority=10) does mail for mailonly.test";
    const std::string mx2 = "mx2.mailonly.test (priority=20) does mail for mailonly.test";
    struct Case
    {
        std::string name, query;
        std::vector<std::string> returned; // either order of the records
    };
    const std::vector<Case> cases = {
        {"two.test", "two.test", {"RR IP [10.9.0.1]RR IP [10.9.0.2]", "RR IP [10.9.0.2]RR IP [10.9.0.1]"}},
        // An empty address answer asks for the mail exchangers.
        {"mailonly.test", "mailonly.test", {mx1 + mx2, mx2 + mx1}},
        {"alias.test", "alias.test", {"Type 5 not implemented yet."}},
        // Numeric names are asked in reverse; the short form 10.1.2 is 10.1.0.2.
        {"10.1.2.3", "3.2.1.10.IN-ADDR.ARPA", {"3.2.1.10.IN-ADDR.ARPA is a pointer to host.test"}},
        {"10.1.2", "2.0.1.10.IN-ADDR.ARPA", {"2.0.1.10.IN-ADDR.ARPA is a pointer to short.test"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Texts texts = Probe(port, c.name);
        EXPECT_TRUE(std::any_of(c.returned.begin(), c.returned.end(), [&](const std::string& t) {
            return texts == Texts{"ok: Success: A Record Query:[ " + c.query + " ] Returned:[ " + t + " ]"};
        })) << testing::PrintToString(texts);
    }
    // No records: both queries fail, the status is the byte count of the empty
    // MX reply, and its cause follows.
    const Texts nothing = Probe(port, "nothing.test");
    ASSERT_EQ(nothing.size(), 1u);
    EXPECT_TRUE(std::regex_match(nothing[0], std::regex(R"(fail: DNS A Record Query for nothing\.test failed\.  )"
                                                         R"(iStatus=\[\d+\] \(NXDOMAIN: no such name\))")))
        << nothing[0];
}

TEST(ToolsDnsProbe, SilentServerTimesOutWithoutAMailQuery)
{
    UdpScriptedServer server([](const std::string&) { return std::nullopt; });
    const auto start = std::chrono::steady_clock::now();
    const Texts texts = Probe(server.port(), "quiet.test");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(9900));
    EXPECT_LT(waited, std::chrono::seconds(15));
    EXPECT_EQ(texts, (Texts{"fail: DNS_Query: ...receive timed out! Attempt to connect timed out without "
                            "establishing a connection.",
                            "fail: DNS A Record Query for quiet.test failed.  iStatus=[0]"}));
    EXPECT_EQ(server.requests().size(), 1u);
}

// Numeric names are read like inet_addr and asked in reverse; one too long to
// reverse is told once and asked as it is, for its address and then its mail
// exchangers. Every query goes to the scripted server on loopback; nothing is
// sent to these addresses.
TEST(ToolsDnsProbe, NumericNamesAreAskedInReverseOrToldAndAskedAsTheyAre)
{
    // Pointer queries get host.test, the others no answer.
    UdpScriptedServer server([](const std::string& q) -> std::optional<std::string> {
        if (Question(q).second != kDnsTypePtr)
            return ReplyHead(q, 0);
        return ReplyHead(q, 1) + Record(12, std::string("\x04host\x04test\x00", 11));
    });
    const auto ones = [](std::size_t length) { // "1.1.1...", or "11.1.1..." for an even length
        std::string name = length % 2 ? "1" : "11";
        while (name.size() < length)
            name += ".1";
        return name;
    };
    // The name, and the reversed labels asked for; none: asked as it is.
    const std::pair<std::string, std::string> cases[] = {
        {"10.1.2", "2.0.1.10"},          {"10.258", "2.1.0.10"},
        {"167837187", "3.254.0.10"},     {"010.1.2.3", "3.2.1.8"},
        {"999.1.1.1", "255.255.255.255"}, {"10.1.2.3.", "255.255.255.255"},
        {"1-2-3", "255.255.255.255"},    {ones(241), "255.255.255.255"},
        // The shortest name too long, and one longer than a host name may be.
        {ones(242), ""},                 {ones(301), ""},
    };
    for (const auto& [name, reversed] : cases) {
        SCOPED_TRACE(name);
        const std::size_t before = server.requests().size();
        ScriptedPrompt prompt;
        const Texts texts = Probe(server.port(), name, &prompt);
        const auto requests = server.requests();
        const auto told = prompt.messages();
        if (!reversed.empty()) {
            const std::string reverse = reversed + ".IN-ADDR.ARPA";
            EXPECT_EQ(texts, Texts{"ok: Success: A Record Query:[ " + reverse + " ] Returned:[ " + reverse +
                                   " is a pointer to host.test ]"});
            ASSERT_EQ(requests.size(), before + 1);
            EXPECT_EQ(Question(requests.back()), std::make_pair(reverse, kDnsTypePtr));
            EXPECT_TRUE(told.empty());
            continue;
        }
        ASSERT_EQ(told.size(), 1u);
        EXPECT_EQ(told[0].icon, OperatorPrompt::Icon::Warning);
        EXPECT_EQ(told[0].text, "DNS: Invalid address");
        ASSERT_EQ(requests.size(), before + 2);
        EXPECT_EQ(requests[before].size(), 18 + name.size());
        EXPECT_EQ(Question(requests[before]), std::make_pair(name, kDnsTypeA));
        EXPECT_EQ(Question(requests[before + 1]), std::make_pair(name, kDnsTypeMx));
        EXPECT_EQ(texts, Texts{"fail: DNS A Record Query for " + name + " failed.  iStatus=[" +
                               std::to_string(18 + name.size()) + "] (no data)"});
    }
    // Without a prompt the query goes out all the same.
    const std::size_t before = server.requests().size();
    EXPECT_EQ(Probe(server.port(), std::string(250, '7')).size(), 1u);
    EXPECT_EQ(server.requests().size(), before + 2);
}

TEST(ToolsDnsProbe, RepliesWithoutUsableAnswersAreFailures)
{
    struct Case
    {
        std::string name;
        std::function<std::string(const std::string& query)> reply;
        std::string message;
        std::vector<int> queries; // the types asked, in order
    };
    const std::string bad = "Malformed DNS reply for bad.test: ";
    // An exchange name of `labels` and then a pointer back to its own start.
    auto looping = [](const std::string& labels) {
        return [labels](const std::string& q) {
            const std::string head = ReplyHead(q, 1);
            const std::size_t at = head.size() + 12 + 2; // the exchange name
            return head + Record(15, Be16Bytes(10) + labels + std::string{char(0xC0 | (at >> 8)), char(at & 0xFF)});
        };
    };
    // A reply without answers whose flags carry this response code.
    auto failing = [](int rcode) {
        return [rcode](const std::string& q) {
            std::string r = ReplyHead(q, 0);
            r[3] = char(0x80 | rcode);
            return r;
        };
    };
    const std::vector<Case> cases = {
        {"sick.test", failing(2), "DNS A Record Query for sick.test failed.  iStatus=[27] (SERVFAIL)",
         {kDnsTypeA, kDnsTypeMx}},
        {"odd.test", failing(4), "DNS A Record Query for odd.test failed.  iStatus=[26] (RCODE 4)",
         {kDnsTypeA, kDnsTypeMx}},
        // An empty datagram ends the probe at once; a short one leads to the
        // mail query, and its byte count is the status.
        {"empty.test", [](const std::string&) { return std::string(); },
         "DNS A Record Query for empty.test failed.  iStatus=[0]", {kDnsTypeA}},
        {"dotted.test.", [](const std::string&) { return std::string(); },
         "DNS A Record Query for dotted.test. failed.  iStatus=[0]", {kDnsTypeA}},
        {"short.test", [](const std::string& q) { return q.substr(0, 5); },
         "DNS A Record Query for short.test failed.  iStatus=[5]", {kDnsTypeA, kDnsTypeMx}},
        {"bad.test", [](const std::string& q) { return ReplyHead(q, 3) + Record(1, std::string("\1\2\3\4", 4)); },
         bad + "record 2 of 3 runs past the end of the 42-byte reply", {kDnsTypeA}},
        {"bad.test",
         [](const std::string& q) {
             std::string r = ReplyHead(q, 1) + Record(1, std::string("\1\2\3\4", 4));
             r[r.size() - 5] = 40; // RDLENGTH
             return r;
         },
         bad + "record 1 of 1 runs past the end of the 42-byte reply", {kDnsTypeA}},
        {"bad.test", looping(""), bad + "the compression pointers of the name in record 1 of 1 form a loop", {kDnsTypeA}},
        {"bad.test", looping(char(63) + std::string(63, 'a')),
         bad + "the name in record 1 of 1 is longer than 255 characters", {kDnsTypeA}},
        {"bad.test", [](const std::string& q) { return ReplyHead(q, 1) + Record(2, std::string("\xC7\xFF", 2)); },
         bad + "the name in record 1 of 1 runs past the end of the reply", {kDnsTypeA}},
        {"bad.test", [](const std::string& q) { return ReplyHead(q, 1) + Record(1, std::string("\1\2", 2)); },
         bad + "record 1 of 1 is an address record of 2 bytes", {kDnsTypeA}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        UdpScriptedServer server([&](const std::string& q) -> std::optional<std::string> { return c.reply(q); });
        EXPECT_EQ(Probe(server.port(), c.name), Texts{"fail: " + c.message});
        std::vector<int> queries;
        for (const auto& request : server.requests())
            queries.push_back(Question(request).second);
        EXPECT_EQ(queries, c.queries);
    }
}

// nsd on a loopback port, authoritative for quillmere.test only.
TEST(ToolsNsd, TheEntrysZonePassesAndEmptyRepliesTellWhy)
{
    ASSERT_EQ(RequireProgram("/usr/sbin/nsd", "nsd"), "");
    const int port = FreeLoopbackPort(true);
    const ScratchDir scratch("qm-tools-nsd");
    const std::string& dir = scratch.path();
    WriteFile(dir + "/zone", "$ORIGIN quillmere.test.\n@ 300 IN SOA ns admin 1 3600 600 86400 300\n"
                             "@ 300 IN NS ns\nns 300 IN A 10.9.1.1\nwww 300 IN A 10.9.1.2\n"
                             "text 300 IN TXT \"no address here\"\n");
    std::string conf = "server:\n port: " + std::to_string(port) + "\n ip-address: 127.0.0.1\n"
                       " username: \"\"\n chroot: \"\"\n database: \"\"\n server-count: 1\n";
    // Everything nsd reads and writes stays in the folder.
    conf += " zonesdir: \"" + dir + "\"\n xfrdir: \"" + dir + "\"\n";
    for (const std::string key : {"pidfile", "xfrdfile", "zonelistfile"})
        conf += " " + key + ": \"" + dir + "/" + key + "\"\n";
    WriteFile(dir + "/nsd.conf", conf + "remote-control:\n control-enable: no\n"
                                        "zone:\n name: quillmere.test\n zonefile: zone\n");
    ServerProcess server;
    server.start({"/usr/sbin/nsd", "-d", "-c", dir + "/nsd.conf"}, dir + "/nsd.log");
    ASSERT_TRUE(WaitForUdpPort(port, std::chrono::seconds(10))) << server.log();

    struct Case
    {
        std::string domain, configured; // of the entry, and of the settings
        std::string name;               // asked for
        std::string outcome;            // the answer text, or the cause of the failure
    };
    const std::vector<Case> cases = {
        // The entry's own name comes first; an inherited e-mail domain is no name.
        {"www.quillmere.test", "www.elsewhere.example", "www.quillmere.test", "RR IP [10.9.1.2]"},
        {"@quillmere.test", "www.quillmere.test", "www.quillmere.test", "RR IP [10.9.1.2]"},
        {"", "nowhere.quillmere.test", "nowhere.quillmere.test", "NXDOMAIN: no such name"},
        {"", "text.quillmere.test", "text.quillmere.test", "no data"},
        // Names outside its zone are refused, the built-in one too.
        {"www.elsewhere.example", "", "www.elsewhere.example", "REFUSED"},
        {"", "", DefaultDnsQueryName(), "REFUSED"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.domain + "|" + c.configured);
        ASSERT_EQ(DnsQueryNameFor(c.domain, c.configured), c.name);
        const Texts texts = Probe(port, c.name);
        ASSERT_EQ(texts.size(), 1u);
        const std::string& m = texts[0];
        if (c.outcome.starts_with("RR IP")) {
            EXPECT_TRUE(m.starts_with("ok: Success: A Record Query:[ " + c.name + " ] Returned:[ " + c.outcome)) << m;
        } else {
            EXPECT_TRUE(m.starts_with("fail: DNS A Record Query for " + c.name + " failed.  iStatus=[")) << m;
            EXPECT_TRUE(m.ends_with("] (" + c.outcome + ")")) << m;
        }
    }
}
