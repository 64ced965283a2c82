// The stream operations of the probe object against small scripted servers.
#include "probes/ProbeRun.h"
#include "support/TestNamespace.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::RecordingSink;
using test::ReportTexts;
using test::ScriptedConnection;
using test::ScriptedServer;
using test::Texts;

// Bytes that differ from position to position, so a wrong cut shows.
std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + (i * 7) % 26);
    return s;
}

// A fresh probe object and what it reported.
class ProbeSocketTest : public testing::Test
{
protected:
    Texts reports() const { return ReportTexts(sink); }

    RecordingSink sink;
    ProbeSocket probe{sink};
};

TEST_F(ProbeSocketTest, SplitsLinesAtTheStopByteAndTrimsThem)
{
    // Sent in pieces, so lines and buffer refills do not coincide.
    ScriptedServer server([](ScriptedConnection& c) {
        for (const char* piece : {"  +OK fi", "rst \r", "\nsecond\r\nthi", "rd\r", "\nrest of\nstream \t"}) {
            c.send(piece);
            std::this_thread::sleep_for(20ms);
        }
        c.close();
    });
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", server.port()));
    EXPECT_EQ(probe.ReceiveText('\n'), "+OK first");
    EXPECT_EQ(probe.ReceiveText('\r'), "second");
    // The line feed left behind by a carriage-return stop is trimmed off the
    // front of the next line.
    EXPECT_EQ(probe.ReceiveText('\r'), "third");
    // Stop byte 0 reads up to the peer's close, line feeds and all.
    EXPECT_EQ(probe.ReceiveText(char(0)), "rest of\nstream");
    // Reads after the close are empty and are no failure.
    EXPECT_EQ(probe.ReceiveText('\n'), "");
    EXPECT_EQ(probe.ReceiveText(char(0)), "");
    EXPECT_EQ(reports(), Texts{});
}

TEST_F(ProbeSocketTest, CapsOneReadAt65536Bytes)
{
    const std::string big = "  " + Pattern(70000);
    ScriptedServer server([&](ScriptedConnection& c) {
        c.receiveUntil("\n");
        c.send(big + "\nTAIL\n" + big);
        c.close();
    });
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
    EXPECT_EQ(reports(), Texts{});
}

TEST_F(ProbeSocketTest, BytesLeftFromOneConnectionNeverReachTheNext)
{
    ScriptedServer first([](ScriptedConnection& c) { c.send("one\nleft over\n"); });
    ScriptedServer second([](ScriptedConnection& c) { c.send("two\n"); });
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", first.port()));
    EXPECT_EQ(probe.ReceiveText('\n'), "one");
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", second.port()));
    EXPECT_EQ(probe.ReceiveText('\n'), "two");
    probe.CloseSocket();
    EXPECT_EQ(probe.ReceiveText('\n'), "");
    EXPECT_EQ(reports(), Texts{"fail: Recvfrom failed: The descriptor is not a socket."});
}

TEST_F(ProbeSocketTest, ResetConnectionIsARecvfromFailure)
{
    ScriptedServer server([](ScriptedConnection& c) {
        c.receiveUntil("\n");
        // Closing with unread data and a zero linger sends a reset.
        const linger hard{1, 0};
        ::setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
        c.close();
    });
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", server.port()));
    probe.SendText("QUIT\nunread bytes\n");
    EXPECT_EQ(probe.ReceiveText('\n'), "");
    // ECONNRESET is 10054, which has no sentence of its own.
    EXPECT_EQ(reports(), Texts{"fail: Recvfrom failed: Undefined"});
}

TEST_F(ProbeSocketTest, IdleBoundGivesTimedOutOrThePartialLine)
{
    ScriptedServer server([](ScriptedConnection& c) {
        c.send("+OK no line end");
        c.receiveAll(5s);
    });
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", server.port()));
    EXPECT_EQ(probe.ReceiveText(ProbeSocket::ReadOptions{'\n', 300, true}), "+OK no line end");
    EXPECT_EQ(reports(), Texts{});
    EXPECT_EQ(probe.ReceiveText(ProbeSocket::ReadOptions{'\n', 300, true}), "");
    EXPECT_EQ(reports(), Texts{"fail: Timed out"});
    probe.CloseSocket();
}

TEST_F(ProbeSocketTest, SendsTheTextAsIsAndReportsAFailedSend)
{
    ScriptedServer server([](ScriptedConnection& c) {
        c.receiveUntil("\r\n.\r\n");
        c.close();
    });
    ASSERT_TRUE(probe.ConnectStream("127.0.0.1", server.port()));
    const std::string text = "USER a b\r\n\tno newline added\r\n.\r\n";
    EXPECT_EQ(probe.SendText(text), static_cast<int>(text.size()));
    ASSERT_EQ(test::FirstConnectionBytes(server), text);
    // Once the peer is gone a send is still accepted; the reset it draws
    // fails the next one.
    EXPECT_EQ(probe.SendText("NOOP\r\n"), 6);
    pollfd reset{probe.socketHandle(), 0, 0};
    ASSERT_EQ(::poll(&reset, 1, 5000), 1);
    EXPECT_EQ(probe.SendText("NOOP\r\n"), 0);
    EXPECT_EQ(reports(), Texts{"fail: Sendto failed: Undefined"});
}

// Inside a namespace of the test's own: the resolver's queries and the
// unrouted address cannot reach anything outside it.
TEST_F(ProbeSocketTest, UnresolvableNameAndUnroutedAddressReportOnce)
{
    test::TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    std::string looked = "unset";
    int resolved = -1;
    bool connected = true;
    ASSERT_EQ(ns.run([&] {
        looked = probe.LookupAddressText("qm-nowhere.invalid");
        sockaddr_in addr{};
        resolved = probe.ResolveAddress("256.1.2.3", 80, addr);
        connected = probe.ConnectStream("10.78.0.1", 80);
    }),
              "");
    EXPECT_EQ(looked, "");
    EXPECT_EQ(resolved, 1);
    EXPECT_FALSE(connected);
    EXPECT_LT(probe.socketHandle(), 0);
    EXPECT_EQ(reports(), (Texts{"fail: Can't resolve qm-nowhere.invalid", "fail: Can't resolve 256.1.2.3",
                                "fail: Connect Failed The network cannot be reached from this host at this time. "}));
}

} // namespace
} // namespace qm
