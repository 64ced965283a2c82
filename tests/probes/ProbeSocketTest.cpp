// The stream operations of the probe object against small scripted servers.
#include "ReportTexts.h"
#include "support/TestNamespace.h"

#include "probes/ProbeSocket.h"
#include "support/RecordingSink.h"
#include "support/ScriptedServer.h"
#include "support/ServerProcess.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::RecordingSink;
using test::ReportTexts;
using test::ScriptedConnection;
using test::ScriptedServer;

// Bytes that differ from position to position, so a wrong cut shows.
std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7) % 26);
    return s;
}

TEST(ProbeSocketRead, SplitsLinesAtTheStopByteAndTrimsThem)
{
    // Sent in pieces, so lines and buffer refills do not coincide.
    ScriptedServer server([](ScriptedConnection& c) {
        for (const char* piece : {"  +OK fi", "rst \r", "\nsecond\r\nthi", "rd\r", "\nrest of\nstream \t"}) {
            c.send(piece);
            std::this_thread::sleep_for(20ms);
        }
        c.close();
    });
    RecordingSink sink;
    ProbeSocket probe(sink);
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", server.port()));
    EXPECT_EQ(probe.ReceiveText('\n'), "+OK first");
    EXPECT_EQ(probe.ReceiveText('\r'), "second");
    // The line feed left behind by a carriage-return stop is trimmed off the
    // front of the next line.
    EXPECT_EQ(probe.ReceiveText('\r'), "third");
    // Stop byte 0 reads up to the peer's close, line feeds and all.
    EXPECT_EQ(probe.ReceiveText(char(0)), "rest of\nstream");
    // A read after the close is empty and is no failure.
    EXPECT_EQ(probe.ReceiveText('\n'), "");
    EXPECT_TRUE(sink.results().empty()) << testing::PrintToString(ReportTexts(sink));
    probe.CloseSocket();
    EXPECT_LT(probe.socketHandle(), 0);
}

TEST(ProbeSocketRead, CapsOneReadAt65536Bytes)
{
    const std::string big = "  " + Pattern(70000);
    ScriptedServer server([&](ScriptedConnection& c) {
        c.receiveUntil("\n");
        c.send(big + "\nTAIL\n" + big);
        c.close();
    });
    RecordingSink sink;
    ProbeSocket probe(sink);
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", server.port()));
    ASSERT_EQ(probe.SendText("GO\n"), 3);
    // The leading blanks count against the cap before they are trimmed.
    const std::string first = probe.ReceiveText('\n');
    EXPECT_EQ(first.size(), 65534u);
    EXPECT_TRUE(first == big.substr(2, 65534)) << "wrong bytes in the capped line";
    // The rest of the over-long line is the next read.
    EXPECT_TRUE(probe.ReceiveText('\n') == big.substr(65536)) << "rest of the line lost or garbled";
    EXPECT_EQ(probe.ReceiveText('\n'), "TAIL");
    const std::string whole = probe.ReceiveText(char(0));
    EXPECT_EQ(whole.size(), 65534u);
    EXPECT_TRUE(whole == big.substr(2, 65534));
    EXPECT_TRUE(sink.results().empty()) << testing::PrintToString(ReportTexts(sink));
}

TEST(ProbeSocketRead, PeerThatClosesAtOnceGivesAnEmptyLineAndNoReport)
{
    ScriptedServer server([](ScriptedConnection& c) { c.close(); });
    RecordingSink sink;
    ProbeSocket probe(sink);
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", server.port()));
    EXPECT_EQ(probe.ReceiveText('\n'), "");
    EXPECT_EQ(probe.ReceiveText(char(0)), "");
    EXPECT_TRUE(sink.results().empty()) << testing::PrintToString(ReportTexts(sink));
}

TEST(ProbeSocketRead, BytesLeftFromOneConnectionNeverReachTheNext)
{
    ScriptedServer first([](ScriptedConnection& c) { c.send("one\nleft over\n"); });
    ScriptedServer second([](ScriptedConnection& c) { c.send("two\n"); });
    RecordingSink sink;
    ProbeSocket probe(sink);
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", first.port()));
    EXPECT_EQ(probe.ReceiveText('\n'), "one");
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", second.port()));
    EXPECT_EQ(probe.ReceiveText('\n'), "two");
    probe.CloseSocket();
    EXPECT_EQ(probe.ReceiveText('\n'), "");
    EXPECT_EQ(ReportTexts(sink), std::vector<std::string>{"fail: Recvfrom failed: The descriptor is not a socket."});
}

TEST(ProbeSocketRead, ResetConnectionIsARecvfromFailure)
{
    ScriptedServer server([](ScriptedConnection& c) {
        c.receiveUntil("\n");
        // Closing with unread data and a zero linger sends a reset.
        const linger hard{1, 0};
        ::setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
        c.close();
    });
    RecordingSink sink;
    ProbeSocket probe(sink);
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", server.port()));
    probe.SendText("QUIT\nunread bytes\n");
    EXPECT_EQ(probe.ReceiveText('\n'), "");
    // ECONNRESET is 10054, which has no sentence of its own.
    EXPECT_EQ(ReportTexts(sink), std::vector<std::string>{"fail: Recvfrom failed: Undefined"});
}

TEST(ProbeSocketRead, IdleBoundGivesTimedOutOrThePartialLine)
{
    std::atomic<bool> done{false};
    ScriptedServer server([&](ScriptedConnection& c) {
        c.send("+OK no line end");
        for (int i = 0; i < 100 && !done; ++i)
            std::this_thread::sleep_for(20ms);
    });
    RecordingSink sink;
    ProbeSocket probe(sink);
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", server.port()));
    EXPECT_EQ(probe.ReceiveText(ProbeSocket::ReadOptions{'\n', 300, true}), "+OK no line end");
    EXPECT_TRUE(sink.results().empty());
    EXPECT_EQ(probe.ReceiveText(ProbeSocket::ReadOptions{'\n', 300, true}), "");
    EXPECT_EQ(ReportTexts(sink), std::vector<std::string>{"fail: Timed out"});
    done = true;
}

TEST(ProbeSocketSend, SendsTheTextAsIsAndReportsAFailedSend)
{
    std::atomic<bool> received{false};
    ScriptedServer server([&](ScriptedConnection& c) {
        c.receiveUntil("\r\n.\r\n");
        received = true;
        c.close();
    });
    RecordingSink sink;
    ProbeSocket probe(sink);
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", server.port()));
    const std::string text = "USER a b\r\n\tno newline added\r\n.\r\n";
    EXPECT_EQ(probe.SendText(text), static_cast<int>(text.size()));
    for (int i = 0; i < 250 && !received; ++i)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(received);
    // Once the peer is gone a send fails: the first may still be accepted
    // before the reset comes back.
    int result = 1;
    for (int i = 0; i < 50 && result != 0; ++i) {
        std::this_thread::sleep_for(20ms);
        result = probe.SendText("NOOP\r\n");
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReportTexts(sink), std::vector<std::string>{"fail: Sendto failed: Undefined"});
    probe.CloseSocket();
    ASSERT_EQ(server.received().size(), 1u);
    EXPECT_EQ(server.received()[0].substr(0, text.size()), text);
}

TEST(ProbeSocketConnect, RefusedPortIsConnectFailedWithTheRefusedSentence)
{
    const int port = test::FreeLoopbackPort();
    RecordingSink sink;
    ProbeSocket probe(sink);
    EXPECT_FALSE(probe.ConnectStream("127.0.0.1", port));
    EXPECT_LT(probe.socketHandle(), 0);
    EXPECT_EQ(ReportTexts(sink),
              std::vector<std::string>{"fail: Connect Failed The attempt to connect was forcefully rejected."});
}

TEST(ProbeSocketResolve, NamesAndDottedAddresses)
{
    RecordingSink sink;
    ProbeSocket probe(sink);
    sockaddr_in addr{};
    ASSERT_EQ(probe.ResolveAddress("localhost", 8080, addr), 0);
    EXPECT_EQ(addr.sin_family, AF_INET);
    EXPECT_EQ(ntohl(addr.sin_addr.s_addr), 0x7F000001u);
    EXPECT_EQ(ntohs(addr.sin_port), 8080);
    ASSERT_EQ(probe.ResolveAddress("127.3.2.1", 7, addr), 0);
    EXPECT_EQ(ntohl(addr.sin_addr.s_addr), 0x7F030201u);
    EXPECT_EQ(probe.LookupAddressText("localhost"), "127.0.0.1");
    EXPECT_FALSE(probe.LookupHostName("127.0.0.1").empty());
    EXPECT_TRUE(sink.results().empty()) << testing::PrintToString(ReportTexts(sink));
    // Not an address at all: reported without a lookup.
    EXPECT_EQ(probe.LookupHostName("not an address"), "");
    EXPECT_EQ(ReportTexts(sink), std::vector<std::string>{"fail: Can't resolve not an address"});
}

// Inside a namespace of the test's own: the resolver's queries and the
// unrouted address cannot reach anything outside it.
TEST(ProbeSocketConnect, UnresolvableNameAndUnroutedAddressReportOnce)
{
    test::TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    RecordingSink sink;
    std::vector<int> handles;
    std::string looked = "unset";
    int resolved = -1;
    const std::string entered = ns.run([&] {
        ProbeSocket probe(sink);
        EXPECT_FALSE(probe.ConnectStream("qm-nowhere.invalid", 80));
        handles.push_back(probe.socketHandle());
        looked = probe.LookupAddressText("qm-nowhere.invalid");
        sockaddr_in addr{};
        resolved = probe.ResolveAddress("256.1.2.3", 80, addr);
        EXPECT_FALSE(probe.ConnectStream("10.78.0.1", 80));
        handles.push_back(probe.socketHandle());
    });
    ASSERT_EQ(entered, "");
    EXPECT_EQ(handles, (std::vector<int>{-1, -1}));
    EXPECT_EQ(looked, "");
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(ReportTexts(sink),
              (std::vector<std::string>{"fail: Can't resolve qm-nowhere.invalid", "fail: Can't resolve qm-nowhere.invalid",
                                        "fail: Can't resolve 256.1.2.3",
                                        "fail: Connect Failed The network cannot be reached from this host at this time. "}));
}

} // namespace
} // namespace qm
