#pragma once

#include "support/ScratchDir.h"
#include "support/ServerProcess.h"

#include <map>
#include <string>
#include <vector>

namespace qm::test {

// The account every real server of these tests knows.
inline constexpr const char* kMailUser = "qmprobe";
inline constexpr const char* kMailPassword = "Pr0be-secret";
// The e-mail domain of the SMTP envelope; the strict MTA relays for it.
inline constexpr const char* kMailDomain = "@probe.lan";
// A second mailbox account whose password an IMAP login must quote.
inline constexpr const char* kQuotedUser = "qmquoted";
inline constexpr const char* kQuotedPassword = "Pr0be se\"cr\\et(";
// What the mailbox server says after its status word in the greeting.
inline constexpr const char* kMailboxGreeting = "Quillmere mailbox ready";

// A real mail, news or file transfer server from a Debian package, started on
// free loopback ports in a scratch directory of its own and stopped (and the
// directory removed) when destroyed. Servers with fixed paths run in a private
// mount namespace so that several can run at once.
class MailDaemon
{
public:
    enum Kind
    {
        Dovecot,   // POP3 on port(), IMAP4 on imapPort(); passwd-file user
        OpenSmtpd, // strict MTA with a multi-line EHLO reply
        Leafnode,  // NNTP, one process per connection through socat
        Vsftpd,    // FTP with the one account and a banner of several lines
        Exim,      // SMTP from the unpacked package: only the one account is a recipient
    };

    explicit MailDaemon(Kind kind);
    MailDaemon(const MailDaemon&) = delete;
    MailDaemon& operator=(const MailDaemon&) = delete;

    // Empty when the server accepts connections; otherwise why it does not
    // (a missing program names its Debian package).
    const std::string& error() const { return m_error; }
    int port() const { return m_port; }
    int imapPort() const { return m_imapPort; }
    std::string log() const { return m_process.log(); }

private:
    void startDovecot();
    void startOpenSmtpd();
    void startLeafnode();
    void startVsftpd();
    void startExim();
    bool require(const std::string& program, const std::string& package);
    // Shell commands that bind the account files into the mount namespace.
    std::string bindAccountFiles(const std::string& extraUser, const std::string& extraGroup);
    void launch(const std::vector<std::string>& argv,
                const std::map<std::string, std::string>& env = {});
    std::string path(const std::string& name) const { return m_dir / name; }

    ScratchDir m_dir;
    std::string m_error;
    int m_port = 0;
    int m_imapPort = 0;
    ServerProcess m_process; // stopped before its directory goes

};

} // namespace qm::test
