// SMTP and ESMTP probes against real MTAs and against scripted servers.
#include "mailprobes/MailDaemon.h"
#include "mailprobes/ProbeRun.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace qm::test {
namespace {

const std::string kUser = kMailUser;
const std::string kDomain = kMailDomain;

TEST(SmtpProbe, WalksTheEnvelopeOfALenientMta)
{
    MailDaemon mta(MailDaemon::Aiosmtpd);
    ASSERT_EQ(mta.error(), "");
    const std::string greeting = ReadGreetingLine(mta.port());
    ASSERT_EQ(greeting.rfind("220 ", 0), 0u) << greeting;

    ProbeRun walk(
        [&](ProbeSocket& p) { p.ProbeSmtp("127.0.0.1", mta.port(), kUser, "unused", kDomain); });
    EXPECT_TRUE(walk.onlySuccess(greeting)) << mta.log();

    // The same address is sender and recipient: outside the relay's domain
    // the recipient is refused.
    ProbeRun refused(
        [&](ProbeSocket& p) { p.ProbeSmtp("127.0.0.1", mta.port(), kUser, "", "@elsewhere.lan"); });
    EXPECT_TRUE(refused.onlyFailure("550 5.7.1 Relaying denied")) << mta.log();
}

TEST(SmtpProbe, StrictMtaWithMultiLineEhlo)
{
    MailDaemon mta(MailDaemon::OpenSmtpd);
    ASSERT_EQ(mta.error(), "");
    const std::string greeting = ReadGreetingLine(mta.port());
    ASSERT_EQ(greeting.rfind("220 ", 0), 0u) << greeting;

    // Its EHLO reply has several lines, which answer MAIL, RCPT and QUIT.
    ProbeRun esmtp(
        [&](ProbeSocket& p) { p.ProbeEsmtp("127.0.0.1", mta.port(), kUser, "", kDomain); });
    EXPECT_TRUE(esmtp.onlySuccess(greeting)) << mta.log();

    // It wants the envelope address in angle brackets, which the probe never
    // adds: the walk stops at MAIL with the server's own line.
    ProbeRun smtp(
        [&](ProbeSocket& p) { p.ProbeSmtp("127.0.0.1", mta.port(), kUser, "", kDomain); });
    EXPECT_TRUE(smtp.onlyFailure("553 5.1.0 Sender address syntax error")) << mta.log();
}

TEST(SmtpProbe, SendsTheExactEnvelopeAndTimesToTheLastReply)
{
    ScriptedServer server(Scripted(
        {"220 mx ready\r\n",
         {"250 hello\r\n", "250 sender ok\r\n", "250 rcpt ok\r\n", "250 reset\r\n", "221 bye\r\n"},
         0ms,
         400ms}));
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbeSmtp("127.0.0.1", server.port(), kUser, "secret", kDomain); });
    EXPECT_TRUE(run.onlySuccess("220 mx ready"));
    EXPECT_EQ(FirstConnectionBytes(server), "HELO qmprobe\r\n"
                                            "MAIL FROM: qmprobe@probe.lan \r\n"
                                            "RCPT TO: qmprobe@probe.lan \r\n"
                                            "RSET \r\n"
                                            "QUIT \r\n");
    // The slow QUIT reply is part of the measured time.
    EXPECT_GE(run.responseTime(), 390u);
}

TEST(SmtpProbe, RefusedRecipientSendsNoRsetOrQuit)
{
    ScriptedServer server(
        Scripted({"220 mx\r\n", {"250 hello\r\n", "250 ok\r\n", "550 no relaying\r\n"}}));
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbeSmtp("127.0.0.1", server.port(), "ops@", "", "corp.lan"); });
    EXPECT_TRUE(run.onlyFailure("550 no relaying"));
    EXPECT_EQ(FirstConnectionBytes(server),
              "HELO ops@\r\nMAIL FROM: ops@corp.lan \r\nRCPT TO: ops@corp.lan \r\n");
}

TEST(SmtpProbe, EmptyUserIdGivesABareHelo)
{
    // With an empty user id nothing stands between HELO and the line end.
    ScriptedServer server(Scripted({"220 mx\r\n", {"501 Syntax: HELO hostname\r\n"}}));
    ProbeRun run([&](ProbeSocket& p) { p.ProbeSmtp("127.0.0.1", server.port(), "", "", kDomain); });
    EXPECT_TRUE(run.onlyFailure("501 Syntax: HELO hostname"));
    EXPECT_EQ(FirstConnectionBytes(server), "HELO\r\n");
}

TEST(SmtpProbe, MultiLineGreetingFailsOnItsSecondLine)
{
    ScriptedServer server(
        Scripted({"220-mx first line\r\n220 mx second line\r\n", {"250 hello\r\n"}}));
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbeSmtp("127.0.0.1", server.port(), kUser, "", kDomain); });
    EXPECT_TRUE(run.onlyFailure("220 mx second line"));
    EXPECT_EQ(FirstConnectionBytes(server), "HELO qmprobe\r\n");
}

TEST(EsmtpProbe, SingleLineEhloFailsWithTheQuitReply)
{
    ScriptedServer server(
        Scripted({"220 mx\r\n",
                  {"250 mx hello\r\n", "250 sender ok\r\n", "250 rcpt ok\r\n", "221 bye\r\n"}}));
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbeEsmtp("127.0.0.1", server.port(), kUser, "", kDomain); });
    EXPECT_TRUE(run.onlyFailure("221 bye"));
    EXPECT_EQ(FirstConnectionBytes(server), "EHLO qmprobe\r\n"
                                            "MAIL FROM: qmprobe@probe.lan \r\n"
                                            "RCPT TO: qmprobe@probe.lan \r\n"
                                            "QUIT \r\n");
}

} // namespace
} // namespace qm::test
