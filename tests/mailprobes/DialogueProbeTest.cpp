// The dialogue probes against scripted servers: what they send, and how they
// judge each reply.
#include "mailprobes/MailProbes.h"
#include "support/Command.h"
#include "support/TestNamespace.h"

#include <deque>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace qm::test {
namespace {

struct Case
{
    Protocol protocol;
    Dialogue server;
    std::string report; // the only report
    std::string sent;   // every byte the probe sent
    Login login = {};
    uint32_t minMs = 0;
    uint32_t maxMs = 10000;
};

TEST(DialogueProbes, SendExactlyTheirCommandsAndJudgeEachReply)
{
    // What `hostname -f` says stands in for an empty user id in HELO and EHLO.
    const CommandResult hostname = RunCommand("hostname -f", 10);
    ASSERT_EQ(hostname.status, 0) << hostname.output;
    const std::string machine = TrimText(hostname.output);
    ASSERT_FALSE(machine.empty());

    const Case cases[] = {
        // Replies end in CR LF: each is read up to the CR, and the LF left over
        // must not spoil the next comparison. The slow greeting counts; the
        // answer to QUIT is never waited for.
        {Protocol::Pop3, {"+OK hello there\r\n", {"+OK user\r\n", "+OK pass\r\n", "+OK bye\r\n"}, 400ms, 1500ms},
         "ok: +OK hello there", "user qmprobe\npass Pr0be-secret\nQUIT\n", {}, 390, 1500},
        {Protocol::Pop3, {"+OK hi\r\n", {"-ERR no such mailbox\r\n"}}, "fail: -ERR no such mailbox", "user qmprobe\n"},
        {Protocol::Pop3, {"+ok hello\r\n", {}}, "fail: +ok hello", ""},
        // A close mid-dialogue is no receive failure: one report only.
        {Protocol::Pop3, {"+OK hi\r\n", {""}, 0ms, 0ms, true}, "fail: ", "user qmprobe\n"},
        // Plain credentials go out as they are, others as quoted strings;
        // neither closing command is answered.
        {Protocol::Imap4, {"* OK hi\r\n", {"a001 OK done\r\n"}}, "ok: * OK hi",
         "a001 login qmprobe \"p w\\\\x\\\"(1)\"\r\na001 QUIT\r\na001 LOGOUT\r\n", {kMailUser, "p w\\x\"(1)"}},
        {Protocol::Imap4, {"* OK hi\r\n", {"a001 BAD missing arguments\r\n"}}, "fail: a001 BAD missing arguments",
         "a001 login  \r\n", {"", "", ""}},
        {Protocol::Imap4, {"* OK hi\r\n", {"* CAPABILITY IMAP4rev1\r\na001 OK done\r\n"}},
         "fail: * CAPABILITY IMAP4rev1", "a001 login qmprobe Pr0be-secret\r\n"},
        {Protocol::Imap4, {"* PREAUTH welcome back\r\n", {}}, "fail: * PREAUTH welcome back", ""},
        // Replies are read whole and stand for their last line. The slow QUIT
        // reply is part of the measured time.
        {Protocol::Smtp,
         {"220-mx first line\r\n220 mx ready\r\n",
          {"250-mx hello\r\n250-SIZE 1000\r\n250 HELP\r\n", "250 sender ok\r\n", "250 rcpt ok\r\n", "250 reset\r\n",
           "221 bye\r\n"},
          0ms, 400ms},
         "ok: 220 mx ready",
         "HELO qmprobe\r\nMAIL FROM: qmprobe@probe.lan \r\nRCPT TO: qmprobe@probe.lan \r\nRSET \r\nQUIT \r\n", {}, 390},
        // The same address is sender and recipient; a refused one ends the walk.
        {Protocol::Smtp, {"220 mx\r\n", {"250 hello\r\n", "250 ok\r\n", "550-no relaying\r\n550 for you\r\n"}},
         "fail: 550 for you", "HELO ops@\r\nMAIL FROM: ops@corp.lan \r\nRCPT TO: ops@corp.lan \r\n",
         {"ops@", "", "corp.lan"}},
        {Protocol::Smtp, {"220 mx\r\n", {"501 Syntax: HELO hostname\r\n"}}, "fail: 501 Syntax: HELO hostname",
         "HELO " + machine + "\r\n", {"", "", kMailDomain}},
        // A reply the server leaves unended is no reply.
        {Protocol::Smtp, {"220-mx going\r\n", {}, 0ms, 0ms, true}, "fail: ", ""},
        {Protocol::Esmtp, {"220 mx\r\n", {"250 mx hello\r\n", "250 sender ok\r\n", "250 rcpt ok\r\n", "221 bye\r\n"}},
         "ok: 220 mx", "EHLO qmprobe\r\nMAIL FROM: qmprobe@probe.lan \r\nRCPT TO: qmprobe@probe.lan \r\nQUIT \r\n"},
        {Protocol::Esmtp, {"220 mx\r\n", {"250-mx hello\r\n250 HELP\r\n", "250 ok\r\n", "250 ok\r\n", "250 bye\r\n"}},
         "ok: 220 mx", "EHLO " + machine + "\r\nMAIL FROM: @d \r\nRCPT TO: @d \r\nQUIT \r\n", {"", "", "@d"}},
        // Text lines of a multi-line reply, padded or not, do not end it.
        {Protocol::Ftp,
         {"220-Welcome to the archive\r\n 220 is not the end\r\n220 ready\r\n",
          {"331 password please\r\n", "230 logged in\r\n", "221 bye\r\n"}, 400ms, 1500ms},
         "ok: 220 ready", "USER qmprobe\r\nPASS Pr0be-secret\r\nquit\n", {}, 390, 1500},
        // Logged in at once: no password is sent.
        {Protocol::Ftp, {"220 ready\r\n", {"230 no password needed\r\n"}}, "ok: 220 ready", "USER qmprobe\r\nquit\n"},
        {Protocol::Ftp, {"220 ready\r\n", {"331 password please\r\n", "530-Login incorrect.\r\n530 Bye.\r\n"}},
         "fail: 530 Bye.", "USER qmprobe\r\nPASS Pr0be-secret\r\n"},
        // The host's credentials play no part; posting allowed or not, it is up.
        {Protocol::Nntp, {"200 news ready\r\n", {"500 what?\r\n"}, 300ms}, "ok: 200 news ready", "a001 QUIT\n",
         {"someone", "pw", "@d"}, 290},
        {Protocol::Nntp, {"201 news ready, no posting\r\n", {}}, "ok: 201 news ready, no posting", "a001 QUIT\n",
         {"", "", ""}},
        {Protocol::Nntp, {"400 service discontinued\r\n", {}}, "fail: 400 service discontinued", ""},
    };
    // All servers first: their closing waits then overlap with later probes.
    std::deque<ScriptedServer> servers;
    for (const Case& c : cases) {
        ScriptedServer& server = servers.emplace_back(Scripted(c.server));
        const ProbeRun run = RunProbe(c.protocol, "127.0.0.1", server.port(), c.login);
        EXPECT_EQ(run.texts, Texts{c.report}) << "case " << servers.size() - 1;
        if (c.report.starts_with("ok: ")) {
            EXPECT_GE(run.responseTime, c.minMs) << c.report;
            EXPECT_LT(run.responseTime, c.maxMs) << c.report;
        }
    }
    for (std::size_t i = 0; i < servers.size(); ++i)
        EXPECT_EQ(FirstConnectionBytes(servers[i]), cases[i].sent) << "case " << i;
}

// Inside a namespace of the test's own, so that the resolver's queries cannot
// leave it.
TEST(DialogueProbes, RefusedPortAndUnknownNameAreReportedOnceByEveryStreamProbe)
{
    TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    for (const Protocol protocol : {Protocol::Http, Protocol::Pop3, Protocol::Imap4, Protocol::Smtp,
                                    Protocol::Esmtp, Protocol::Ftp, Protocol::Nntp}) {
        Texts refused, unknown;
        ASSERT_EQ(ns.run([&] {
            refused = RunProbe(protocol, "127.0.0.1", FreeLoopbackPort()).texts;
            unknown = RunProbe(protocol, "qm-nowhere.invalid", 80).texts;
        }),
                  "");
        const int which = static_cast<int>(protocol);
        EXPECT_EQ(refused, Texts{"fail: Connect Failed The attempt to connect was forcefully rejected."}) << which;
        EXPECT_EQ(unknown, Texts{"fail: Can't resolve qm-nowhere.invalid"}) << which;
    }
}

} // namespace
} // namespace qm::test
