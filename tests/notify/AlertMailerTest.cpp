#include "notify/AlertMailer.h"

#include "platform/ThreadId.h"
#include "probes/ProbeSocket.h"
#include "support/RecordingSink.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <sys/socket.h>
#include <thread>

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::ScriptedConnection;
using test::ScriptedServer;
using SteadyClock = std::chrono::steady_clock;

// Sets TZ for the scope of a test and puts the old one back.
class ZoneScope
{
public:
    explicit ZoneScope(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old, m_had = true;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneScope()
    {
        if (m_had)
            ::setenv("TZ", m_old.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string m_old;
    bool m_had = false;
};

// An SMTP server that answers every step with the given codes.
ScriptedServer::Script Answering(std::string greeting, std::string dataReply = "354 go ahead\r\n")
{
    return [greeting, dataReply](ScriptedConnection& c) {
        c.send(greeting);
        if (greeting.rfind("220", 0) != 0)
            return;
        for (int i = 0; i < 3; ++i) { // HELO, MAIL FROM, RCPT TO
            if (c.receiveUntil("\r\n").empty())
                return;
            c.send("250 ok\r\n");
        }
        c.receiveUntil("\r\n");
        c.send(dataReply);
        c.receiveUntil("\r\n.\r\n");
        c.send("250 queued\r\n");
        c.receiveUntil("\r\n");
        c.send("221 bye\r\n");
    };
}

// What the server's connections received, once `count` of them have ended.
std::vector<std::string> Received(const ScriptedServer& server, std::size_t count = 1)
{
    const auto deadline = SteadyClock::now() + 5s;
    while (server.received().size() < count && SteadyClock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    return server.received();
}

void Send(ProbeSocket& probe, int port, const std::string& from,
          const std::string& body = "Host: web1\n")
{
    SendAlertMail(probe, "127.0.0.1", "ops@example.test", from, "HOST DOWN: web1", body, port);
}

TEST(AlertMailerTest, HeloNameAndDateHeader)
{
    EXPECT_EQ(HeloName("monitor@example.test"), "monitor");
    EXPECT_EQ(HeloName("a@b@c"), "a");
    EXPECT_EQ(HeloName("monitor"), "");
    EXPECT_EQ(HeloName(""), "");

    {
        ZoneScope zone("EST5");
        EXPECT_EQ(MailDateText(0), "Wed, 31 Dec 1969 19:00:00 -0500");
    }
    {
        ZoneScope zone("IST-5:30");
        EXPECT_EQ(MailDateText(86400 * 40 + 3600), "Tue, 10 Feb 1970 06:30:00 +0530");
    }
    {
        ZoneScope zone("NST3:30");
        EXPECT_EQ(MailDateText(0), "Wed, 31 Dec 1969 20:30:00 -0330");
    }
    {
        ZoneScope zone("UTC0");
        EXPECT_EQ(MailDateText(1700000000), "Tue, 14 Nov 2023 22:13:20 +0000");
        EXPECT_EQ(
            BuildAlertMessage("m@x", "o@y", "HOST UP: web1", "Host: web1\n", 1700000000),
            "From: m@x\nDate: Tue, 14 Nov 2023 22:13:20 +0000\nTo: o@y\nSubject: HOST UP: web1\n"
            "X-mailer: Kestrune\n\nHost: web1\n\n");
    }
}

TEST(AlertMailerTest, FullDialogueOnTheWire)
{
    ScriptedServer server(Answering("220 mx ready\r\n"));
    test::RecordingSink sink;
    ProbeSocket probe(sink);
    Send(probe, server.port(), "monitor@example.test", "Host: web1\n.dot line\n");
    ASSERT_EQ(Received(server).size(), 1u);
    const std::string wire = Received(server)[0];
    const std::regex expected(
        "HELO monitor\r\n"
        "MAIL FROM: monitor@example\\.test \r\n"
        "RCPT TO: ops@example\\.test \r\n"
        "DATA\r\n"
        "From: monitor@example\\.test\n"
        "Date: [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}\n"
        "To: ops@example\\.test\n"
        "Subject: HOST DOWN: web1\n"
        "X-mailer: Kestrune\n\n"
        "Host: web1\n\\.dot line\n\n \r\n\\.\r\n"
        "QUIT \r\n");
    EXPECT_TRUE(std::regex_match(wire, expected)) << wire;
    EXPECT_TRUE(sink.results().empty());
    EXPECT_EQ(probe.socketHandle(), -1);
}

TEST(AlertMailerTest, UnexpectedRepliesEndTheDialogue)
{
    test::RecordingSink sink;
    ProbeSocket probe(sink);
    {
        // A refusing greeting gets no command at all, not even QUIT.
        ScriptedServer server(Answering("554 go away\r\n"));
        Send(probe, server.port(), "monitor@example.test");
        ASSERT_EQ(Received(server).size(), 1u);
        EXPECT_EQ(Received(server)[0], "");
    }
    {
        // The second greeting line is read as the answer to HELO and fails.
        ScriptedServer server(Answering("220-mx first line\r\n220 mx second line\r\n"));
        Send(probe, server.port(), "monitor@example.test");
        ASSERT_EQ(Received(server).size(), 1u);
        EXPECT_EQ(Received(server)[0], "HELO monitor\r\n");
    }
    {
        // A refused recipient ends it before DATA.
        ScriptedServer server([](ScriptedConnection& c) {
            c.send("220 mx\r\n");
            c.receiveUntil("\r\n");
            c.send("250 hi\r\n");
            c.receiveUntil("\r\n");
            c.send("250 ok\r\n");
            c.receiveUntil("\r\n");
            c.send("550 no such user\r\n");
        });
        Send(probe, server.port(), "monitor@example.test");
        ASSERT_EQ(Received(server).size(), 1u);
        EXPECT_EQ(Received(server)[0].find("DATA"), std::string::npos);
        EXPECT_NE(Received(server)[0].find("RCPT TO: ops@example.test \r\n"), std::string::npos);
    }
    EXPECT_TRUE(sink.results().empty());
    EXPECT_EQ(probe.socketHandle(), -1);
}

TEST(AlertMailerTest, DataRefusedStillSendsTheMessageAndBareFromGivesEmptyHelo)
{
    ScriptedServer server(Answering("220 mx\r\n", "500 no data for you\r\n"));
    test::RecordingSink sink;
    ProbeSocket probe(sink);
    Send(probe, server.port(), "monitor", "THIS IS JUST A TEST");
    ASSERT_EQ(Received(server).size(), 1u);
    const std::string wire = Received(server)[0];
    EXPECT_EQ(wire.rfind("HELO \r\nMAIL FROM: monitor \r\n", 0), 0u) << wire;
    EXPECT_NE(wire.find("DATA\r\nFrom: monitor\n"), std::string::npos) << wire;
    EXPECT_NE(wire.find("\n\nTHIS IS JUST A TEST\n \r\n.\r\nQUIT \r\n"), std::string::npos) << wire;
}

TEST(AlertMailerTest, UnreachableServerEndsSilentlyAndReceiveFailuresCarryTheCallersThreadId)
{
    test::RecordingSink sink;
    ProbeSocket probe(sink);
    int port;
    {
        ScriptedServer closed([](ScriptedConnection&) {});
        port = closed.port();
    }
    Send(probe, port, "monitor@example.test");
    EXPECT_TRUE(sink.results().empty());

    // A server that resets the connection makes the greeting read fail.
    ScriptedServer reset([](ScriptedConnection& c) {
        std::this_thread::sleep_for(200ms); // let the client's connect complete first
        const linger hard{1, 0};
        ::setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        c.close();
    });
    Send(probe, reset.port(), "monitor@example.test");
    const auto results = sink.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, test::RecordingSink::Report::Failure);
    EXPECT_EQ(results[0].result.message.rfind("Recvfrom failed: ", 0), 0u) << results[0].result.message;
    EXPECT_EQ(results[0].threadId, CurrentThreadId());
}

TEST(AlertMailerTest, SilentServerIsGivenUpAfterOneReceiveBound)
{
    ScriptedServer server([](ScriptedConnection& c) { c.receiveAll(15s); });
    test::RecordingSink sink;
    ProbeSocket probe(sink);
    const auto start = SteadyClock::now();
    Send(probe, server.port(), "monitor@example.test");
    const auto took = SteadyClock::now() - start;
    EXPECT_GE(took, 9s);
    EXPECT_LE(took, 12s);
    const auto results = sink.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result.message, "Timed out");
}

TEST(AlertMailerTest, TricklingServerCannotHoldTheMailerPastTheDeadline)
{
    // One byte of a greeting that never ends every half second: each byte
    // would restart an idle time-out, the whole-mail deadline still holds.
    ScriptedServer server([](ScriptedConnection& c) {
        for (int i = 0; i < 90; ++i) {
            const char byte = "220 slow"[i % 8];
            if (::send(c.fd(), &byte, 1, MSG_NOSIGNAL) != 1)
                return;
            if (!c.receiveAll(500ms).empty())
                return;
            pollfd p{c.fd(), POLLIN, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLIN)))
                return; // the mailer hung up
        }
    });
    test::RecordingSink sink;
    ProbeSocket probe(sink);
    const auto start = SteadyClock::now();
    Send(probe, server.port(), "monitor@example.test");
    const auto took = SteadyClock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(kMailDeadlineMs - 1000));
    EXPECT_LE(took, std::chrono::milliseconds(kMailDeadlineMs + 2000));
    const auto results = sink.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result.message, "Timed out");
}

} // namespace
} // namespace qm
