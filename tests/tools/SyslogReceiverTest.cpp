#include "support/Command.h"
#include "support/RecordingPrompt.h"
#include "support/RecordingSink.h"
#include "support/ScratchDir.h"
#include "support/ServerProcess.h"
#include "tools/SyslogReceiver.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;

namespace {

// A receiver on a port of the test's own, and the records it posts.
class ToolsSyslog : public ::testing::Test
{
protected:
    void SetUp() override { m_port = FreeLoopbackPort(true); }

    // Runs cycles until `count` records arrived or the time is up.
    std::vector<ProbeResult> Collect(SyslogReceiver& receiver, std::size_t count,
                                     std::chrono::milliseconds limit = 5000ms)
    {
        std::vector<ProbeResult> records;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (records.size() < count && std::chrono::steady_clock::now() < deadline)
            receiver.cycle([&](std::unique_ptr<ProbeResult> r) { records.push_back(*r); });
        return records;
    }

    // Sends with the real client; its exit status.
    int Logger(const std::vector<std::string>& args)
    {
        std::string cmd = "timeout 10 /usr/bin/logger -n 127.0.0.1 -P " + std::to_string(m_port) + " -d";
        for (const auto& a : args)
            cmd += " '" + a + "'";
        return std::system(cmd.c_str());
    }

    int m_port = 0;
    RecordingSink m_sink;
    ScriptedPrompt m_prompt;
};

} // namespace

TEST_F(ToolsSyslog, RealClientMessagesBecomeRecords)
{
    ASSERT_EQ(RequireProgram("/usr/bin/logger", "util-linux"), "");
    SyslogReceiver receiver(m_sink, m_prompt, m_port);
    receiver.cycle({});
    ASSERT_TRUE(receiver.listening());
    ASSERT_EQ(receiver.port(), m_port);

    ASSERT_EQ(Logger({"--rfc3164", "-p", "user.err", "disk full"}), 0);
    ASSERT_EQ(Logger({"-p", "user.info", "all is well"}), 0);      // RFC 5424
    ASSERT_EQ(Logger({"-p", "local7.err", "line protocol up"}), 0); // PRI 187
    const auto records = Collect(receiver, 3);
    ASSERT_EQ(records.size(), 3u);

    EXPECT_EQ(records[0].facility, 8u);
    EXPECT_EQ(records[0].severity, 3u);
    EXPECT_EQ(records[0].sourceAddress, "127.0.0.1");
    const std::string& m = records[0].message;
    EXPECT_EQ(m.substr(m.size() - 11), ": disk full") << m;
    const SyslogNaming error = NameSyslogRecord(records[0].facility, records[0].severity);
    EXPECT_EQ("[" + error.severityName + "][" + error.facilityName + "]", "[3_ERROR][USER]");
    EXPECT_FALSE(error.success);

    // RFC 5424: the version follows the PRI directly.
    EXPECT_EQ(records[1].message.rfind("1 ", 0), 0u) << records[1].message;
    EXPECT_EQ(records[1].message.substr(records[1].message.size() - 11), "all is well");
    const SyslogNaming info = NameSyslogRecord(records[1].facility, records[1].severity);
    EXPECT_EQ(info.severityName, "6_INFO");
    EXPECT_TRUE(info.success);

    EXPECT_EQ(records[2].facility, 56u);
    const SyslogNaming cisco = NameSyslogRecord(records[2].facility, records[2].severity);
    EXPECT_EQ(cisco.facilityName, "CISCO ASYNC");
    EXPECT_EQ(cisco.severityName, "3_NORMAL");
    EXPECT_TRUE(cisco.success);
    EXPECT_TRUE(m_sink.results().empty());
}

TEST_F(ToolsSyslog, LargestDatagramIsTakenWhole)
{
    SyslogReceiver receiver(m_sink, m_prompt, m_port);
    receiver.cycle({});
    ASSERT_TRUE(receiver.listening());
    // 65507 bytes is the most one IPv4 UDP datagram carries.
    const std::string body(65507 - 4, 'z');
    ASSERT_TRUE(SendLoopbackDatagram(m_port, "<14>" + body));
    const auto records = Collect(receiver, 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, body);
}

TEST_F(ToolsSyslog, BusyPortIsToldOnceAndRetriedQuietly)
{
    const int blocker = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(static_cast<uint16_t>(m_port));
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);

    SyslogReceiver receiver(m_sink, m_prompt, m_port);
    for (int i = 0; i < 5; ++i)
        receiver.cycle({});
    EXPECT_FALSE(receiver.listening());
    auto results = m_sink.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, RecordingSink::Report::Failure);
    EXPECT_EQ(results[0].result.message, "Syslog listener cannot bind UDP port " + std::to_string(m_port)
                                             + ": The specified address is already in use.");

    ::close(blocker);
    receiver.cycle({});
    EXPECT_TRUE(receiver.listening());
    ASSERT_TRUE(SendLoopbackDatagram(m_port, "<11>disk full"));
    const auto records = Collect(receiver, 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, "disk full");
    EXPECT_EQ(m_sink.results().size(), 1u);
    EXPECT_TRUE(m_prompt.messages().empty());
}

TEST(ToolsSyslogParse, PriorityTextSenderAndNames)
{
    // A well-formed priority is read end to end by the tests above.
    ProbeResult r;
    EXPECT_EQ(ParseSyslogDatagram("no brackets here", "a", r), 0);
    EXPECT_EQ(r.message, "no brackets here");
    const SyslogNaming kernel = NameSyslogRecord(r.facility, r.severity);
    EXPECT_EQ(kernel.facilityName, "KERNEL");
    EXPECT_EQ(kernel.severityName, "0_EMERGENCY");
    EXPECT_FALSE(kernel.success);

    EXPECT_EQ(ParseSyslogDatagram("187>x", "a", r), 187); // no "<": the number starts at once
    EXPECT_EQ(r.facility, 56u);
    EXPECT_EQ(ParseSyslogDatagram("<99999999999999>x", "a", r), INT_MAX);
    EXPECT_EQ(ParseSyslogDatagram("x>y<5>z", "a", r), 0); // ">" before "<"
    EXPECT_EQ(r.message, "y<5>z");

    // Facility 56 is "CISCO ASYNC" only with severity 3; beyond the table no name.
    EXPECT_EQ(NameSyslogRecord(56, 4).facilityName, "NNTP");
    EXPECT_EQ(NameSyslogRecord(56, 4).severityName, "4_WARNING");
    EXPECT_FALSE(NameSyslogRecord(56, 4).success);
    EXPECT_EQ(NameSyslogRecord(104, 5).facilityName, "");
    EXPECT_TRUE(NameSyslogRecord(104, 5).success);
}

TEST(ToolsSyslogService, MissingServiceIsToldOnceAndRetried)
{
    // A mount namespace whose services database is empty, and a network
    // namespace of its own should the lookup succeed all the same.
    const ScratchDir dir("qm-tools-services");
    WriteFile(dir / "services", "");
    const CommandResult r = RunCommand("unshare --mount --net sh -c \"mount --bind " + dir / "services" +
                                       " /etc/services && " + QM_TOOLS_HELPER + " syslog-cycles 5\"");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "prompt: could not find service syslog/udp, network logging disabled\nlistening: 0\n");
}
