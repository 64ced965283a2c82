// The dialogue probes, run by their protocol names, against real servers from
// Debian packages.
#include "probes/ProbeRun.h"
#include "support/MailDaemon.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

const char* const kLocal = "127.0.0.1";

// The credentials and e-mail domain of a probed host.
struct Login
{
    std::string user = kMailUser;
    std::string password = kMailPassword;
    std::string domain = kMailDomain;
};

ProbeRun Probe(const char* protocol, const std::string& host, int port, const Login& login = {})
{
    return RunNamed(protocol, HostArgs(host, port, login.user, login.password, login.domain));
}

// The first line the server sends on a new connection, read by a plain client
// and trimmed: what a probe reports as the greeting. It must start with the
// status code.
std::string Greeting(int port, const std::string& code)
{
    ScriptedConnection conn(ConnectLoopback(port));
    const std::string line = conn.fd() < 0 ? "" : TrimText(conn.receiveUntil("\n"));
    conn.close();
    EXPECT_EQ(line.rfind(code, 0), 0u) << "greeting: " << line;
    return line;
}

TEST(MailServers, Pop3AndImap4LogInToDovecotAndReportItsRefusal)
{
    MailDaemon dovecot(MailDaemon::Dovecot);
    ASSERT_EQ(dovecot.error(), "");
    const std::string pop3Greeting = std::string("ok: +OK ") + kMailboxGreeting;
    EXPECT_EQ(Probe("POP3", kLocal, dovecot.port()).texts, Texts{pop3Greeting}) << dovecot.log();
    EXPECT_EQ(Probe("POP3", kLocal, dovecot.port(), {kMailUser, "wrong"}).texts,
              Texts{"fail: -ERR [AUTH] Authentication failed."})
        << dovecot.log();
    // A refused login leaves no delay behind for the next poll.
    const ProbeRun again = Probe("POP3", "localhost", dovecot.port(), {kMailUser, kMailPassword, ""});
    EXPECT_EQ(again.texts, Texts{pop3Greeting});
    EXPECT_LT(again.responseTime, 3000u);

    const std::string imapGreeting = Greeting(dovecot.imapPort(), "* OK [CAPABILITY IMAP4rev1 ");
    EXPECT_EQ(Probe("IMAP4", kLocal, dovecot.imapPort()).texts, Texts{"ok: " + imapGreeting})
        << dovecot.log();
    EXPECT_EQ(Probe("IMAP4", kLocal, dovecot.imapPort(), {kMailUser, "wrong"}).texts,
              Texts{"fail: a001 NO [AUTHENTICATIONFAILED] Authentication failed."})
        << dovecot.log();
    // A password with a blank, a quote, a backslash and a parenthesis.
    EXPECT_EQ(Probe("IMAP4", kLocal, dovecot.imapPort(), {kQuotedUser, kQuotedPassword}).texts,
              Texts{"ok: " + imapGreeting})
        << dovecot.log();
}

TEST(MailServers, StrictMtaRefusesTheBareSenderInBothDialogues)
{
    MailDaemon mta(MailDaemon::OpenSmtpd);
    ASSERT_EQ(mta.error(), "");
    // It wants the envelope address in angle brackets, which the probe never
    // adds: the walk stops at MAIL, also after its multi-line EHLO reply.
    for (const char* protocol : {"SMTP", "ESMTP"})
        EXPECT_EQ(Probe(protocol, kLocal, mta.port()).texts, Texts{"fail: 553 5.1.0 Sender address syntax error"})
            << mta.log();
}

TEST(MailServers, EximRefusingTheRecipientIsDownAndTheHostNameServesAsHelo)
{
    MailDaemon exim(MailDaemon::Exim);
    ASSERT_EQ(exim.error(), "");
    const std::string greeting = "ok: " + Greeting(exim.port(), "220 ");
    // Its EHLO reply has several lines; QUIT is answered 221.
    EXPECT_EQ(Probe("ESMTP", kLocal, exim.port()).texts, Texts{greeting}) << exim.log();
    for (const char* protocol : {"SMTP", "ESMTP"})
        EXPECT_EQ(Probe(protocol, kLocal, exim.port(), {"someone", "", kMailDomain}).texts,
                  Texts{"fail: 550 Administrative prohibition"})
            << exim.log();
    // It refuses a bare HELO; the whole address sits in the domain field.
    EXPECT_EQ(Probe("SMTP", kLocal, exim.port(), {"", "", std::string(kMailUser) + kMailDomain}).texts,
              Texts{greeting})
        << exim.log();
}

TEST(MailServers, FtpLogsInToVsftpdBehindItsBannerAndReportsItsRefusal)
{
    MailDaemon ftp(MailDaemon::Vsftpd);
    ASSERT_EQ(ftp.error(), "");
    // The banner's last line stands for the greeting.
    EXPECT_EQ(Probe("FTP", kLocal, ftp.port()).texts, Texts{"ok: 220"}) << ftp.log();
    EXPECT_EQ(Probe("FTP", kLocal, ftp.port(), {kMailUser, "wrong"}).texts,
              Texts{"fail: 530 Login incorrect."})
        << ftp.log();
}

TEST(MailServers, NntpReadsLeafnodeGreeting)
{
    MailDaemon news(MailDaemon::Leafnode);
    ASSERT_EQ(news.error(), "");
    EXPECT_EQ(Probe("NNTP", kLocal, news.port()).texts, Texts{"ok: " + Greeting(news.port(), "200 ")})
        << news.log();
}

} // namespace
} // namespace qm::test
