#include "notify/AlertMailer.h"

#include "ScriptedSmtp.h"
#include "probes/ProbeSocket.h"
#include "support/MailDaemon.h"
#include "support/EventPump.h"
#include "support/RecordingSink.h"
#include "support/ServerProcess.h"
#include "support/TestNamespace.h"
#include "support/TimeZoneScope.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <sys/socket.h>
#include <tuple>

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::ScriptedConnection;
using test::ScriptedServer;
using test::SmtpAccepting;

void Send(ProbeSocket& probe, int port, const std::string& from,
          const std::string& body = "Host: web1\n")
{
    SendAlertMail(probe, "127.0.0.1", "ops@example.test", from, "HOST DOWN: web1", body, port);
}

TEST(AlertMailerTest, HeloNameAndDateHeader)
{
    // The common forms are on the wire in the tests below, the message
    // with its headers too.
    EXPECT_EQ(HeloName("a@b@c"), "a");
    EXPECT_EQ(HeloName(""), "");

    // The date in the local zone, with its offset.
    test::TimeZoneScope scope("UTC0");
    const std::vector<std::tuple<const char*, std::time_t, const char*>> zones = {
        {"EST5", 0, "Wed, 31 Dec 1969 19:00:00 -0500"},
        {"IST-5:30", 86400 * 40 + 3600, "Tue, 10 Feb 1970 06:30:00 +0530"},
        {"NST3:30", 0, "Wed, 31 Dec 1969 20:30:00 -0330"},
        {"UTC0", 1700000000, "Tue, 14 Nov 2023 22:13:20 +0000"},
    };
    for (const auto& [zone, time, text] : zones) {
        scope.set(zone);
        EXPECT_EQ(MailDateText(time), text) << zone;
    }
}

TEST(AlertMailerTest, DialoguesOnTheWire)
{
    const std::string helo = "HELO monitor\r\n";
    const std::string envelope = helo + "MAIL FROM: monitor@example\\.test \r\nRCPT TO: ops@example\\.test \r\n";
    const struct
    {
        std::vector<std::string> replies;
        std::string wire; // of the first connection, as a regular expression
        std::size_t connections = 1;
        std::string from = "monitor@example.test";
        std::string body = "Host: web1\n";
    } cases[] = {
        // The whole dialogue; a dot that starts a line goes as it is.
        {SmtpAccepting(),
         envelope + "DATA\r\nFrom: monitor@example\\.test\n"
                    "Date: [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}\n"
                    "To: ops@example\\.test\nSubject: HOST DOWN: web1\nX-mailer: Kestrune\n\n"
                    "Host: web1\n\\.dot line\n\n \r\n\\.\r\nQUIT \r\n",
         1, "monitor@example.test", "Host: web1\n.dot line\n"},
        // A refused DATA still sends the message; a bare sender gives an empty HELO.
        {SmtpAccepting("220 mx\r\n", "500 no data for you\r\n"),
         "HELO \r\nMAIL FROM: monitor \r\n[\\s\\S]*DATA\r\nFrom: monitor\n[\\s\\S]*\n\n"
         "THIS IS JUST A TEST\n \r\n\\.\r\nQUIT \r\n",
         1, "monitor", "THIS IS JUST A TEST"},
        // A refusing greeting gets no command at all, not even QUIT.
        {{"554 go away\r\n"}, ""},
        // The second greeting line is read as the answer to HELO and fails.
        {SmtpAccepting("220-mx first line\r\n220 mx second line\r\n"), helo},
        // A refused recipient ends it before DATA; being permanent, it is
        // tried once more in the standard form, a temporary one is not.
        {{"220 mx\r\n", "250 hi\r\n", "250 ok\r\n", "550 no such user\r\n"}, envelope, 2},
        {{"220 mx\r\n", "250 hi\r\n", "250 ok\r\n", "451 try later\r\n"}, envelope},
    };
    test::RecordingSink sink;
    ProbeSocket probe(sink);
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        ScriptedServer server(test::ScriptedSmtp(c.replies));
        Send(probe, server.port(), c.from, c.body);
        const auto received = server.waitForReceived(c.connections);
        ASSERT_EQ(received.size(), c.connections);
        EXPECT_TRUE(std::regex_match(received[0], std::regex(c.wire))) << received[0];
    }
    EXPECT_TRUE(sink.results().empty());
    EXPECT_EQ(probe.socketHandle(), -1);
}

// A server that refuses MAIL FROM without angle brackets (the table above has
// RCPT TO) gets the mail once more in the standard form, after the usual bytes.
TEST(AlertMailerTest, RefusedBareSenderIsSentAgainInTheStandardForm)
{
    ScriptedServer strict([](ScriptedConnection& c) {
        c.send("220 strict.test\r\n");
        for (std::string command; !(command = c.receiveUntil("\r\n")).empty();) {
            if (command == "DATA\r\n") {
                c.send("354 go\r\n");
                c.receiveUntil("\r\n.\r\n");
            }
            const bool bare = command.rfind("MAIL", 0) == 0 && command.find('<') == std::string::npos;
            c.send(bare ? "553 5.1.0 address syntax error\r\n" : "250 ok\r\n");
        }
    });
    test::RecordingSink sink;
    ProbeSocket probe(sink);
    Send(probe, strict.port(), "monitor@example.test", "Host: web1\n.dot line\r\nlast");
    const auto received = strict.waitForReceived(2);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], "HELO monitor\r\nMAIL FROM: monitor@example.test \r\n");
    const std::regex standard("HELO monitor\r\nMAIL FROM:<monitor@example\\.test>\r\n"
                              "RCPT TO:<ops@example\\.test>\r\nDATA\r\n"
                              "From: monitor@example\\.test\r\nDate: [^\r\n]+\r\nTo: ops@example\\.test\r\n"
                              "Subject: HOST DOWN: web1\r\nX-mailer: Kestrune\r\n\r\n"
                              "Host: web1\r\n\\.\\.dot line\r\nlast\r\n\\.\r\nQUIT\r\n");
    EXPECT_TRUE(std::regex_match(received[1], standard)) << received[1];
    EXPECT_TRUE(sink.results().empty());
}

// OpenSMTPD refuses the bare sender; the standard form gets the alert in.
// In a namespace of its own: the server's attempt to relay the message
// cannot leave it.
TEST(AlertMailerTest, StrictMtaTakesTheAlertInTheStandardForm)
{
    test::TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    const std::string entered = ns.runHere([] {
        test::MailDaemon mta(test::MailDaemon::OpenSmtpd);
        ASSERT_EQ(mta.error(), "");
        test::RecordingSink sink;
        ProbeSocket probe(sink);
        const std::string to = std::string("ops") + test::kMailDomain;
        SendAlertMail(probe, "127.0.0.1", to, "monitor@example.test", "HOST DOWN: web1",
                      "Host: web1\n", mta.port());
        EXPECT_TRUE(sink.results().empty());
        const std::regex accepted("smtp message msgid=[0-9a-f]+ size=[0-9]+ nrcpt=1");
        EXPECT_TRUE(test::PumpEventsUntil([&] { return std::regex_search(mta.log(), accepted); }, 10s))
            << mta.log();
        EXPECT_NE(mta.log().find("553"), std::string::npos) << mta.log();
    });
    EXPECT_EQ(entered, "");
}

// No report for a refused connection; a failed read is reported (the
// notification queue's test has it, with the thread that sent the mail).
TEST(AlertMailerTest, UnreachableServerEndsSilently)
{
    test::RecordingSink sink;
    ProbeSocket probe(sink);
    Send(probe, test::FreeLoopbackPort(), "monitor@example.test");
    EXPECT_TRUE(sink.results().empty());
}

// A server that never completes a reply: the mail ends "Timed out" within
// [least, most] of its start.
void ExpectTimedOut(const ScriptedServer::Script& script, std::chrono::milliseconds least,
                    std::chrono::milliseconds most)
{
    ScriptedServer server(script);
    test::RecordingSink sink;
    ProbeSocket probe(sink);
    const auto start = std::chrono::steady_clock::now();
    Send(probe, server.port(), "monitor@example.test");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, least);
    EXPECT_LE(took, most);
    const auto results = sink.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result.message, "Timed out");
}

TEST(AlertMailerTest, SilentServerIsGivenUpAfterOneReceiveBound)
{
    ExpectTimedOut([](ScriptedConnection& c) { c.receiveAll(15s); }, 9s, 12s);
}

TEST(AlertMailerTest, TricklingServerCannotHoldTheMailerPastTheDeadline)
{
    // One byte of a greeting that never ends every half second: each byte
    // would restart an idle time-out, the whole-mail deadline still holds.
    const auto trickle = [](ScriptedConnection& c) {
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
    };
    ExpectTimedOut(trickle, std::chrono::milliseconds(kMailDeadlineMs - 1000),
                   std::chrono::milliseconds(kMailDeadlineMs + 2000));
}

} // namespace
} // namespace qm
