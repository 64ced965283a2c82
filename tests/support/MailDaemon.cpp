#include "support/MailDaemon.h"

#include "support/CachedPackage.h"

#include <chrono>
#include <filesystem>
#include <sys/stat.h>

namespace qm::test {

namespace {
constexpr auto kStartTimeout = std::chrono::seconds(20);
const char* const kUnshare = "/usr/bin/unshare";

// The text with every placeholder replaced by its value.
std::string Fill(std::string text, const std::map<std::string, std::string>& values)
{
    for (const auto& [key, value] : values)
        for (std::size_t at = text.find(key); at != std::string::npos;
             at = text.find(key, at + value.size()))
            text.replace(at, key.size(), value);
    return text;
}

void MakeDir(const std::string& path, mode_t mode)
{
    std::filesystem::create_directories(path);
    ::chmod(path.c_str(), mode);
}
} // namespace

MailDaemon::MailDaemon(Kind kind) : m_dir("qm-mailprobes")
{
    if (m_dir.path().empty()) {
        m_error = "cannot create a scratch directory under /tmp";
        return;
    }
    // In the order of the kinds.
    constexpr void (MailDaemon::*kStart[])() = {&MailDaemon::startDovecot, &MailDaemon::startOpenSmtpd,
                                                 &MailDaemon::startLeafnode, &MailDaemon::startVsftpd,
                                                 &MailDaemon::startExim};
    (this->*kStart[kind])();
}

bool MailDaemon::require(const std::string& program, const std::string& package)
{
    const std::string missing = RequireProgram(program, package);
    if (!missing.empty() && m_error.empty())
        m_error = missing;
    return missing.empty();
}

void MailDaemon::launch(const std::vector<std::string>& argv,
                        const std::map<std::string, std::string>& env)
{
    if (!m_process.start(argv, path("server.log"), env)) {
        m_error = "cannot start " + argv.front();
        return;
    }
    const bool up = WaitForTcpPort(m_port, kStartTimeout) &&
                    (m_imapPort == 0 || WaitForTcpPort(m_imapPort, kStartTimeout));
    if (!up)
        m_error = argv.front() + " did not accept connections on 127.0.0.1; its log:\n" + log();
}

void MailDaemon::startDovecot()
{
    if (!require("/usr/sbin/dovecot", "dovecot-core") ||
        !require("/usr/lib/dovecot/pop3", "dovecot-pop3d") ||
        !require("/usr/lib/dovecot/imap", "dovecot-imapd"))
        return;
    m_port = FreeLoopbackPort();
    do
        m_imapPort = FreeLoopbackPort();
    while (m_imapPort == m_port);
    MakeDir(path("run"), 0755);
    MakeDir(path("state"), 0755);
    MakeDir(path("mail"), 0777);
    // The mail user must not be root; nobody owns nothing and is enough.
    WriteFile(path("users"), std::string(kMailUser) + ":{PLAIN}" + kMailPassword + ":65534:65534::" +
                                 path("mail") + "::\n" + kQuotedUser + ":{PLAIN}" + kQuotedPassword +
                                 ":65534:65534::" + path("mail") + "::\n");
    // Plain-text logins without TLS, and no penalty delay after a failed
    // login, which would slow every later login of the test.
    WriteFile(path("dovecot.conf"), Fill(R"(base_dir = @DIR@/run
state_dir = @DIR@/state
log_path = /dev/stderr
protocols = pop3 imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_failure_delay = 0
login_greeting = @GREETING@
mail_location = maildir:@DIR@/mail/%u
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u @DIR@/users
}
userdb {
  driver = passwd-file
  args = username_format=%u @DIR@/users
}
service pop3-login {
  inet_listener pop3 {
    port = @POP3@
  }
  inet_listener pop3s {
    port = 0
  }
}
service imap-login {
  inet_listener imap {
    port = @IMAP@
  }
  inet_listener imaps {
    port = 0
  }
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
)",
                                         {{"@DIR@", m_dir.path()},
                                          {"@GREETING@", kMailboxGreeting},
                                          {"@POP3@", std::to_string(m_port)},
                                          {"@IMAP@", std::to_string(m_imapPort)}}));
    launch({"/usr/sbin/dovecot", "-F", "-c", path("dovecot.conf")});
}

void MailDaemon::startOpenSmtpd()
{
    if (!require("/usr/sbin/smtpd", "opensmtpd") || !require(kUnshare, "util-linux"))
        return;
    m_port = FreeLoopbackPort();
    MakeDir(path("spool"), 0755);
    MakeDir(path("run"), 0755);
    const std::map<std::string, std::string> values{
        {"@DIR@", m_dir.path()}, {"@PORT@", std::to_string(m_port)}, {"@DOMAIN@", kMailDomain + 1}};
    WriteFile(path("smtpd.conf"), Fill(R"(listen on 127.0.0.1 port @PORT@
action "relay" relay
match from any for domain "@DOMAIN@" action "relay"
)",
                                       values));
    // Its spool and control socket have fixed paths: give this instance its
    // own in a private mount namespace. The spool must be mode 711.
    const std::string script = Fill("mount --bind @DIR@/spool /var/spool"
                                    " && mkdir -m 711 /var/spool/smtpd"
                                    " && mount --bind @DIR@/run /run"
                                    " && exec /usr/sbin/smtpd -d -f @DIR@/smtpd.conf",
                                    values);
    launch({kUnshare, "--mount", "--propagation", "private", "/bin/sh", "-c", script});
}

void MailDaemon::startLeafnode()
{
    if (!require("/usr/sbin/leafnode", "leafnode") || !require("/usr/bin/socat", "socat") ||
        !require(kUnshare, "util-linux"))
        return;
    m_port = FreeLoopbackPort();
    // It reads its configuration from one fixed path only and insists on a
    // unique fully qualified name of its own; the name is made known locally
    // so that nothing asks a name server for it.
    WriteFile(path("config"), "expire = 20\nserver = news\nhostname = leafnode.peer.lan\n");
    WriteFile(path("hosts"), ReadFile("/etc/hosts") + "\n127.0.0.1 leafnode.peer.lan\n");
    // One server process per connection, with the connection as its standard
    // input and output, as an inetd would run it.
    const std::string script =
        Fill("mount --bind @DIR@/config /etc/news/leafnode/config"
             " && mount --bind @DIR@/hosts /etc/hosts"
             " && exec /usr/bin/socat TCP-LISTEN:@PORT@,bind=127.0.0.1,reuseaddr,fork"
             " EXEC:/usr/sbin/leafnode,nofork",
             {{"@DIR@", m_dir.path()}, {"@PORT@", std::to_string(m_port)}});
    launch({kUnshare, "--mount", "--propagation", "private", "/bin/sh", "-c", script});
}

// The account as a system user, seen only inside the server's private mount
// namespace: password, shadow and group files of its own. The user is nobody
// under another name.
std::string MailDaemon::bindAccountFiles(const std::string& extraUser, const std::string& extraGroup)
{
    // crypt() of kMailPassword with the salt "quillmere".
    const char* const hash =
        "$6$quillmere$/rywY50zJYL55rU1bH4.QuFU9IpUx5U7uvJxmR8x7d4c/.EwQJd8XENpmyvGlIP3IrjZflMlQDXYf3FeTf6ph0";
    MakeDir(path("home"), 0755);
    WriteFile(path("passwd"),
              ReadFile("/etc/passwd") + kMailUser + ":x:65534:65534::" + path("home") + ":/bin/sh\n" + extraUser);
    WriteFile(path("shadow"), ReadFile("/etc/shadow") + kMailUser + ":" + hash + ":19000:0:99999:7:::\n");
    WriteFile(path("group"), ReadFile("/etc/group") + extraGroup);
    ::chmod(path("shadow").c_str(), 0640);
    return Fill("mount --bind @DIR@/passwd /etc/passwd && mount --bind @DIR@/shadow /etc/shadow"
                " && mount --bind @DIR@/group /etc/group",
                {{"@DIR@", m_dir.path()}});
}

void MailDaemon::startVsftpd()
{
    if (!require("/usr/sbin/vsftpd", "vsftpd") || !require(kUnshare, "util-linux"))
        return;
    m_port = FreeLoopbackPort();
    MakeDir(path("empty"), 0755);
    WriteFile(path("banner"), "Welcome to the Quillmere test archive.\nAuthorised users only.\n");
    // Password check against the shadow file alone, without the delay
    // after a failure.
    WriteFile(path("pam"), "auth required pam_unix.so nodelay\naccount required pam_permit.so\n"
                           "session required pam_permit.so\n");
    WriteFile(path("vsftpd.conf"), Fill(R"(listen=YES
listen_address=127.0.0.1
listen_port=@PORT@
local_enable=YES
banner_file=@DIR@/banner
pam_service_name=vsftpd
secure_chroot_dir=@DIR@/empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
delay_failed_login=0
)",
                                        {{"@DIR@", m_dir.path()}, {"@PORT@", std::to_string(m_port)}}));
    const std::string script = bindAccountFiles("", "") + Fill(" && mount --bind @DIR@/pam /etc/pam.d/vsftpd"
                                                           " && exec /usr/sbin/vsftpd @DIR@/vsftpd.conf",
                                                           {{"@DIR@", m_dir.path()}});
    launch({kUnshare, "--mount", "--propagation", "private", "/bin/sh", "-c", script});
}

void MailDaemon::startExim()
{
    if (!require(kUnshare, "util-linux"))
        return;
    // It conflicts with OpenSMTPD, so it runs from its unpacked package.
    const std::string unpacked = UnpackCachedPackage("exim4-daemon-light", path("pkg"));
    if (!unpacked.empty()) {
        m_error = unpacked;
        return;
    }
    const std::string exim = path("pkg/usr/sbin/exim4");
    if (!require(exim, "exim4-daemon-light"))
        return;
    m_port = FreeLoopbackPort();
    // Its log and spool are written by its user, nobody under another name.
    MakeDir(path("spool"), 0777);
    ::chmod(m_dir.path().c_str(), 0777);
    WriteFile(path("exim.conf"), Fill(R"(keep_environment =
tls_advertise_hosts =
smtp_banner = mx.probe.lan ready
spool_directory = @DIR@/spool
log_file_path = @DIR@/%slog
daemon_smtp_ports = @PORT@
local_interfaces = 127.0.0.1
acl_smtp_rcpt = check_rcpt
begin acl
check_rcpt:
  accept local_parts = @USER@
         domains = @DOMAIN@
  deny
)",
                                      {{"@DIR@", m_dir.path()},
                                       {"@PORT@", std::to_string(m_port)},
                                       {"@USER@", kMailUser},
                                       {"@DOMAIN@", kMailDomain + 1}}));
    // The binary insists that its packaged user exists.
    const std::string script =
        bindAccountFiles("Debian-exim:x:65534:65534::/nonexistent:/bin/false\n", "Debian-exim:x:65534:\n") +
        Fill(" && exec @EXIM@ -C @DIR@/exim.conf -bdf", {{"@DIR@", m_dir.path()}, {"@EXIM@", exim}});
    launch({kUnshare, "--mount", "--propagation", "private", "/bin/sh", "-c", script});
}

} // namespace qm::test
