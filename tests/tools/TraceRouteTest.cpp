#include "probes/ProbeSocket.h"
#include "support/RecordingSink.h"
#include "support/RouterChain.h"
#include "tools/TraceRoute.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#ifndef QM_TOOLS_HELPER
#error "QM_TOOLS_HELPER must name the helper program"
#endif

using namespace qm;
using namespace qm::test;

namespace {

// Four network namespaces of the test's own in a row:
//   client 10.201.1.2 - 10.201.1.1 router one 10.201.2.1 - 10.201.2.2 router two
//   10.201.3.1 - 10.201.3.2 target
// The client cannot send to 10.201.8.0/24 (an unreachable route); router two
// drops what is sent to 10.201.3.9.
class TraceNetwork : public RouterChain
{
public:
    TraceNetwork()
        : RouterChain(4, "127.0.0.1 localhost\n"
                         "10.201.1.1 qm-router-one\n10.201.2.1 qm-router-one-east\n"
                         "10.201.2.2 qm-router-two\n10.201.3.1 qm-router-two-east\n"
                         "10.201.3.2 qm-target\n10.201.3.9 qm-dropped\n"
                         "10.201.8.8 qm-nowhere qm-nowhere-alias\n")
    {
        step("ip -n " + name(0) + " route add unreachable 10.201.8.0/24");
        step("ip -n " + name(1) + " route add 10.201.3.0/24 via 10.201.2.2");
        // 10.201.9.0/24 loops between the routers: it is never reached.
        step("ip -n " + name(1) + " route add 10.201.9.0/24 via 10.201.2.2");
        step("ip -n " + name(2) + " route add blackhole 10.201.3.9/32");
        router(1);
        router(2);
    }

    // Runs the helper in the client namespace; without raw sockets it may
    // only use the datagram ICMP socket.
    std::string helper(const std::string& args, bool withoutRawSockets = false) const
    {
        const std::string drop = withoutRawSockets ? "setpriv --inh-caps=-net_raw --bounding-set=-net_raw " : "";
        return runInClient(drop + QM_TOOLS_HELPER + " " + args, 120).output;
    }
    void allowDatagramIcmp() { step("ip netns exec " + name(0) + " sysctl -qw \"net.ipv4.ping_group_range=0 0\""); }
};

// The report part of the helper's output (it ends with a marker line); with
// anyTime, the times of the hops that answered, which vary, read "<10 msec".
std::string Report(const std::string& output, bool anyTime = false)
{
    const std::size_t at = output.find("Tracing Route to [");
    const std::size_t end = output.find("--- end of report");
    if (at == std::string::npos || end == std::string::npos)
        return output;
    const std::string report = output.substr(at, end - at);
    return anyTime ? std::regex_replace(report, std::regex("\t\\d{3,} msec\t"), "\t<10 msec\t") : report;
}

// The report that lists one hop for each name; a name "ERR" is a failed hop.
std::string Expected(const std::string& host, const std::vector<std::string>& names)
{
    std::string text = "Tracing Route to [" + host + "]\n" + std::string(59, '=') + "\n";
    for (std::size_t i = 0; i < names.size(); ++i) {
        char ttl[32];
        std::snprintf(ttl, sizeof(ttl), "TTL_%02zu\t", i + 1);
        text += std::string(ttl) + (names[i] == "ERR" ? "ERR" : "<10 msec") + "\t\t[" + names[i] + "]\n";
    }
    return text;
}

const std::vector<std::string> kBothRoutersAndTheTarget{"qm-router-one", "qm-router-two", "qm-target"};

std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class ToolsTraceRoute : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_net = new TraceNetwork; }
    static void TearDownTestSuite()
    {
        delete s_net;
        s_net = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_net->ok()) << s_net->log(); }
    static inline TraceNetwork* s_net = nullptr;
};

} // namespace

TEST_F(ToolsTraceRoute, ListsBothRoutersAndEndsAtTheTarget)
{
    const std::string output = s_net->helper("traceroute 10.201.3.2");
    EXPECT_EQ(Report(output, true), Expected("10.201.3.2", kBothRoutersAndTheTarget)) << output;
    // Each router's Time Exceeded was reported as a failure of its own.
    EXPECT_EQ(Count(output, "failure: Time Exceeded  TTL exceeded  \n"), 2u) << output;
    EXPECT_EQ(Count(output, "prompt: "), 0u) << output;
}

TEST_F(ToolsTraceRoute, RouterThatDropsEndsTheTraceWithAnErrorLine)
{
    const std::string output = s_net->helper("traceroute qm-dropped");
    EXPECT_EQ(Report(output, true), Expected("qm-dropped", {"qm-router-one", "ERR"})) << output;
}

TEST_F(ToolsTraceRoute, UnreachedTargetStopsAfter29Hops)
{
    // The routers send this address to each other until its time runs out.
    std::vector<std::string> routers;
    for (int i = 0; i < 29; ++i)
        routers.push_back(i % 2 == 0 ? "qm-router-one" : "qm-router-two");
    const std::string output = s_net->helper("traceroute 10.201.9.9");
    EXPECT_EQ(Report(output, true), Expected("10.201.9.9", routers)) << output;
}

TEST_F(ToolsTraceRoute, UnknownHostIsListedUnderItsOwnTextForEveryHop)
{
    const std::string host = "no-such-host.invalid";
    const std::string output = s_net->helper("traceroute " + host);
    EXPECT_EQ(Report(output), Expected(host, std::vector<std::string>(29, host))) << output;
    EXPECT_EQ(Count(output, "failure: "), 29u) << output;
    EXPECT_EQ(Count(output, "prompt: "), 0u) << output;

    // The failed reverse look-up of the host text is reported once per hop,
    // before the hop is listed.
    std::string hops;
    for (int ttl = 1; ttl <= 29; ++ttl) {
        char hop[64];
        std::snprintf(hop, sizeof(hop), "hop: %02d -1 [%s] [%s]\n", ttl, host.c_str(), host.c_str());
        hops += "failure: Can't resolve " + host + "\n" + hop;
    }
    EXPECT_EQ(s_net->helper("trace-hops " + host), hops + "hops: 29\n");
}

TEST_F(ToolsTraceRoute, HopWhoseSendFailsShowsTheHostText)
{
    // The alias resolves to 10.201.8.8, whose own name is qm-nowhere; no
    // request leaves, so no hop learns an address.
    const std::string output = s_net->helper("traceroute qm-nowhere-alias");
    EXPECT_EQ(Report(output), Expected("qm-nowhere-alias", std::vector<std::string>(29, "qm-nowhere-alias"))) << output;
    EXPECT_EQ(Count(output, "failure: Can't resolve qm-nowhere-alias\n"), 29u) << output;
}

TEST_F(ToolsTraceRoute, WithoutRawSocketsOnlyTheDatagramIcmpSocketCanTrace)
{
    // No ICMP socket at all: each hop is listed under the reverse name of the
    // host text, with one prompt for each probe (the hop's own and its timing).
    ASSERT_EQ(s_net->helper("icmp-kind", true), "none\n");
    std::string output = s_net->helper("traceroute 10.201.3.2", true);
    EXPECT_EQ(Report(output), Expected("10.201.3.2", std::vector<std::string>(29, "qm-target"))) << output;
    EXPECT_EQ(Count(output, "prompt: m_sock == INVALID_SOCKET\n"), 58u) << output;
    EXPECT_EQ(Count(output, "failure: "), 0u) << output;

    // The datagram ICMP socket sees the routers too.
    s_net->allowDatagramIcmp();
    ASSERT_TRUE(s_net->ok()) << s_net->log();
    ASSERT_EQ(s_net->helper("icmp-kind", true), "datagram\n");
    output = s_net->helper("traceroute 10.201.3.2", true);
    EXPECT_EQ(Report(output, true), Expected("10.201.3.2", kBothRoutersAndTheTarget)) << output;
    // So does the ECHO probe, whichever socket it has.
    for (const bool datagram : {true, false})
        EXPECT_EQ(s_net->helper("echo 10.201.9.9", datagram), "failure: Time Exceeded  TTL exceeded  \n");
}

TEST(ToolsTraceHops, SetCancelFlagEndsTheTraceBeforeAnyProbe)
{
    // Were the flag ignored, loopback would answer the first hop.
    RecordingSink sink;
    ProbeSocket probe(sink);
    const std::atomic<bool> cancel{true};
    int hops = 0;
    const TraceOutcome outcome =
        TraceRoute(probe, "127.0.0.1", [&hops](const TraceHop&) { ++hops; }, nullptr, &cancel);
    EXPECT_EQ(hops, 0);
    EXPECT_EQ(outcome.hops, 0);
    EXPECT_TRUE(sink.reports().empty());
}

TEST(ToolsTraceHops, TimeTexts)
{
    EXPECT_EQ(HopTimeText(-1), "<10 msec");
    EXPECT_EQ(HopTimeText(10), "<10 msec");
    EXPECT_EQ(HopTimeText(11), "011 msec");
    EXPECT_EQ(HopTimeText(1234), "1234 msec");
}
