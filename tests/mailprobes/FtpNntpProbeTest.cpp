// FTP and NNTP probes against pyftpdlib, leafnode and scripted servers.
#include "mailprobes/MailDaemon.h"
#include "mailprobes/ProbeRun.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace qm::test {
namespace {

const std::string kUser = kMailUser;
const std::string kPassword = kMailPassword;

TEST(FtpProbe, LogsInToPyftpdlibAndReportsItsRefusal)
{
    MailDaemon ftp(MailDaemon::Pyftpdlib);
    ASSERT_EQ(ftp.error(), "");
    const std::string greeting = ReadGreetingLine(ftp.port());
    ASSERT_EQ(greeting.rfind("220 ", 0), 0u) << greeting;

    ProbeRun good([&](ProbeSocket& p) { p.ProbeFtp("127.0.0.1", ftp.port(), kUser, kPassword); });
    EXPECT_TRUE(good.onlySuccess(greeting)) << ftp.log();

    ProbeRun bad([&](ProbeSocket& p) { p.ProbeFtp("127.0.0.1", ftp.port(), kUser, "wrong"); });
    EXPECT_TRUE(bad.onlyFailure("530 Authentication failed.")) << ftp.log();
}

TEST(FtpProbe, SendsTheExactLoginAndTimesGreetingToQuit)
{
    ScriptedServer server(Scripted({"220 files ready\r\n",
                                    {"331 password please\r\n", "230 logged in\r\n", "221 bye\r\n"},
                                    400ms,
                                    1500ms}));
    ProbeRun run([&](ProbeSocket& p) { p.ProbeFtp("127.0.0.1", server.port(), kUser, kPassword); });
    EXPECT_TRUE(run.onlySuccess("220 files ready"));
    EXPECT_EQ(FirstConnectionBytes(server), "USER qmprobe\r\nPASS Pr0be-secret\r\nquit\n");
    // The slow greeting counts; the answer to quit is never waited for.
    EXPECT_GE(run.responseTime(), 390u);
    EXPECT_LT(run.responseTime(), 1500u);
}

TEST(FtpProbe, MultiLineGreetingFailsOnItsLastLine)
{
    ScriptedServer server(
        Scripted({"220-Welcome to the archive\r\n220 ready\r\n", {"331 password please\r\n"}}));
    ProbeRun run([&](ProbeSocket& p) { p.ProbeFtp("127.0.0.1", server.port(), kUser, kPassword); });
    EXPECT_TRUE(run.onlyFailure("220 ready"));
    EXPECT_EQ(FirstConnectionBytes(server), "USER qmprobe\r\n");
}

TEST(FtpProbe, LoginWithoutPasswordIsNotAccepted)
{
    ScriptedServer server(Scripted({"220 ready\r\n", {"230 no password needed\r\n"}}));
    ProbeRun run([&](ProbeSocket& p) { p.ProbeFtp("127.0.0.1", server.port(), kUser, kPassword); });
    EXPECT_TRUE(run.onlyFailure("230 no password needed"));
    EXPECT_EQ(FirstConnectionBytes(server), "USER qmprobe\r\n");
}

TEST(NntpProbe, ReadsLeafnodeGreeting)
{
    MailDaemon news(MailDaemon::Leafnode);
    ASSERT_EQ(news.error(), "");
    const std::string greeting = ReadGreetingLine(news.port());
    ASSERT_EQ(greeting.rfind("200 ", 0), 0u) << greeting << "\n" << news.log();

    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbeNntp("127.0.0.1", news.port(), kUser, kPassword, "@x"); });
    EXPECT_TRUE(run.onlySuccess(greeting)) << news.log();
}

TEST(NntpProbe, SendsTaggedQuitWhateverTheAnswer)
{
    ScriptedServer server(Scripted({"200 news ready\r\n", {"500 what?\r\n"}, 300ms, 0ms}));
    // The host's credentials play no part.
    ProbeRun run(
        [&](ProbeSocket& p) { p.ProbeNntp("127.0.0.1", server.port(), "someone", "pw", "@d"); });
    EXPECT_TRUE(run.onlySuccess("200 news ready"));
    EXPECT_EQ(FirstConnectionBytes(server), "a001 QUIT\n");
    EXPECT_GE(run.responseTime(), 290u);
}

TEST(NntpProbe, NoPostingGreetingFails)
{
    ScriptedServer server(Scripted({"201 news ready, no posting\r\n", {}}));
    ProbeRun run([&](ProbeSocket& p) { p.ProbeNntp("127.0.0.1", server.port(), "", "", ""); });
    EXPECT_TRUE(run.onlyFailure("201 news ready, no posting"));
    EXPECT_EQ(FirstConnectionBytes(server), "");
}

} // namespace
} // namespace qm::test
