// POP3 and IMAP4 probes against dovecot and against scripted servers.
#include "mailprobes/MailDaemon.h"
#include "mailprobes/ProbeRun.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace qm::test {
namespace {

const std::string kUser = kMailUser;
const std::string kPassword = kMailPassword;

TEST(Pop3Probe, LogsInToDovecotAndReportsItsRefusal)
{
    MailDaemon dovecot(MailDaemon::Dovecot);
    ASSERT_EQ(dovecot.error(), "");
    const std::string greeting = std::string("+OK ") + kMailboxGreeting;

    ProbeRun good(
        [&](ProbeSocket& p) { p.ProbePop3("127.0.0.1", dovecot.port(), kUser, kPassword, "@x"); });
    EXPECT_TRUE(good.onlySuccess(greeting)) << dovecot.log();

    ProbeRun bad(
        [&](ProbeSocket& p) { p.ProbePop3("127.0.0.1", dovecot.port(), kUser, "wrong", "@x"); });
    EXPECT_TRUE(bad.onlyFailure("-ERR [AUTH] Authentication failed.")) << dovecot.log();

    // A refused login leaves no delay behind for the next poll.
    ProbeRun again(
        [&](ProbeSocket& p) { p.ProbePop3("localhost", dovecot.port(), kUser, kPassword, ""); });
    EXPECT_TRUE(again.onlySuccess(greeting));
    EXPECT_LT(again.responseTime(), 3000u);
}

TEST(Imap4Probe, LogsInToDovecotAndReportsItsRefusal)
{
    MailDaemon dovecot(MailDaemon::Dovecot);
    ASSERT_EQ(dovecot.error(), "");
    const std::string greeting = ReadGreetingLine(dovecot.imapPort());
    ASSERT_EQ(greeting.rfind("* OK [CAPABILITY IMAP4rev1 ", 0), 0u) << greeting;

    ProbeRun good([&](ProbeSocket& p) {
        p.ProbeImap4("127.0.0.1", dovecot.imapPort(), kUser, kPassword, "");
    });
    EXPECT_TRUE(good.onlySuccess(greeting)) << dovecot.log();

    ProbeRun bad(
        [&](ProbeSocket& p) { p.ProbeImap4("127.0.0.1", dovecot.imapPort(), kUser, "wrong", ""); });
    EXPECT_TRUE(bad.onlyFailure("a001 NO [AUTHENTICATIONFAILED] Authentication failed."))
        << dovecot.log();
}

TEST(Pop3Probe, SendsBareLineFeedCommandsAndTimesGreetingToQuit)
{
    // Replies end in CR LF: each is read up to the CR, and the LF left over
    // must not spoil the next comparison.
    ScriptedServer server(Scripted(
        {"+OK hello there\r\n", {"+OK user\r\n", "+OK pass\r\n", "+OK bye\r\n"}, 400ms, 1500ms}));
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbePop3("127.0.0.1", server.port(), kUser, kPassword, "@x"); });
    EXPECT_TRUE(run.onlySuccess("+OK hello there"));
    EXPECT_EQ(FirstConnectionBytes(server), "user qmprobe\npass Pr0be-secret\nQUIT\n");
    // The slow greeting counts; the answer to QUIT is never waited for.
    EXPECT_GE(run.responseTime(), 390u);
    EXPECT_LT(run.responseTime(), 1500u);
}

TEST(Pop3Probe, RefusedUserEndsBeforeThePassword)
{
    ScriptedServer server(Scripted({"+OK hi\r\n", {"-ERR no such mailbox\r\n"}}));
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbePop3("127.0.0.1", server.port(), kUser, kPassword, ""); });
    EXPECT_TRUE(run.onlyFailure("-ERR no such mailbox"));
    EXPECT_EQ(FirstConnectionBytes(server), "user qmprobe\n");
}

TEST(Pop3Probe, LowerCaseStatusIsNotAccepted)
{
    ScriptedServer server(Scripted({"+ok hello\r\n", {}}));
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbePop3("127.0.0.1", server.port(), kUser, kPassword, ""); });
    EXPECT_TRUE(run.onlyFailure("+ok hello"));
    EXPECT_EQ(FirstConnectionBytes(server), "");
}

TEST(Pop3Probe, ServerClosingMidDialogueFailsWithEmptyMessage)
{
    ScriptedServer server([](ScriptedConnection& conn) {
        conn.send("+OK hi\r\n");
        conn.receiveUntil("\n");
        conn.close();
    });
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbePop3("127.0.0.1", server.port(), kUser, kPassword, ""); });
    // The close itself is not a receive failure: one report only.
    EXPECT_TRUE(run.onlyFailure(""));
}

TEST(Pop3Probe, RefusedConnectIsReportedOnce)
{
    const int port = FreeLoopbackPort();
    ProbeRun run([&](ProbeSocket& p) { p.ProbePop3("127.0.0.1", port, kUser, kPassword, ""); });
    EXPECT_TRUE(run.onlyFailure("Connect Failed The attempt to connect was forcefully rejected."));
}

TEST(Imap4Probe, SendsLoginThenBothClosingCommandsUnanswered)
{
    ScriptedServer server(Scripted({"* OK hi\r\n", {"a001 OK done\r\n"}}));
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbeImap4("127.0.0.1", server.port(), kUser, "p w", "@x"); });
    EXPECT_TRUE(run.onlySuccess("* OK hi"));
    // Credentials go out unquoted, blanks and all.
    EXPECT_EQ(FirstConnectionBytes(server),
              "a001 login qmprobe p w\r\na001 QUIT\r\na001 LOGOUT\r\n");
}

TEST(Imap4Probe, EmptyCredentialsLeaveTwoBlanks)
{
    ScriptedServer server(Scripted({"* OK hi\r\n", {"a001 BAD missing arguments\r\n"}}));
    ProbeRun run([&](ProbeSocket& p) { p.ProbeImap4("127.0.0.1", server.port(), "", "", ""); });
    EXPECT_TRUE(run.onlyFailure("a001 BAD missing arguments"));
    EXPECT_EQ(FirstConnectionBytes(server), "a001 login  \r\n");
}

TEST(Imap4Probe, UntaggedLineBeforeTheTaggedReplyFails)
{
    ScriptedServer server(
        Scripted({"* OK hi\r\n", {"* CAPABILITY IMAP4rev1\r\na001 OK done\r\n"}}));
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbeImap4("127.0.0.1", server.port(), kUser, kPassword, ""); });
    EXPECT_TRUE(run.onlyFailure("* CAPABILITY IMAP4rev1"));
    EXPECT_EQ(FirstConnectionBytes(server), "a001 login qmprobe Pr0be-secret\r\n");
}

TEST(Imap4Probe, PreauthGreetingIsNotAccepted)
{
    ScriptedServer server(Scripted({"* PREAUTH welcome back\r\n", {}}));
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbeImap4("127.0.0.1", server.port(), kUser, kPassword, ""); });
    EXPECT_TRUE(run.onlyFailure("* PREAUTH welcome back"));
    EXPECT_EQ(FirstConnectionBytes(server), "");
}

TEST(Imap4Probe, SilentServerTimesOutThenFailsWithEmptyMessage)
{
    // Greets, then says nothing more until the probe gives up and closes.
    ScriptedServer server([](ScriptedConnection& conn) {
        conn.send("* OK hi\r\n");
        conn.receiveAll(std::chrono::milliseconds(kReceiveTimeoutMs + 5000));
    });
    const auto before = std::chrono::steady_clock::now();
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbeImap4("127.0.0.1", server.port(), kUser, kPassword, ""); });
    const auto waited = std::chrono::steady_clock::now() - before;
    const auto& results = run.reports();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].kind, RecordingSink::Report::Failure);
    EXPECT_EQ(results[0].result.message, "Timed out");
    EXPECT_EQ(results[1].kind, RecordingSink::Report::Failure);
    EXPECT_EQ(results[1].result.message, "");
    EXPECT_TRUE(run.socketClosed());
    EXPECT_LT(waited, std::chrono::milliseconds(kReceiveTimeoutMs + 5000));
}

} // namespace
} // namespace qm::test
