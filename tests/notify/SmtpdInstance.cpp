#include "SmtpdInstance.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace qm::test {

namespace {
const char* const kSmtpd = "/usr/sbin/smtpd";
const char* const kUnshare = "/usr/bin/unshare";
// Deliveries run as this account, so the maildirs belong to it.
const char* const kMailOwner = "nobody";
} // namespace

SmtpdInstance::SmtpdInstance(const std::string& domain, const std::vector<std::string>& users)
{
    m_error = RequireProgram(kSmtpd, "opensmtpd");
    if (m_error.empty())
        m_error = RequireProgram(kUnshare, "util-linux");
    if (!m_error.empty())
        return;
    char tmpl[] = "/tmp/qm-notify-smtpd.XXXXXX";
    if (!::mkdtemp(tmpl)) {
        m_error = "cannot create a scratch directory";
        return;
    }
    m_dir = tmpl;
    const passwd* owner = ::getpwnam(kMailOwner);
    if (!owner) {
        m_error = std::string("no account ") + kMailOwner + " to deliver mail as";
        return;
    }
    // The delivery agent must reach the maildirs.
    fs::permissions(m_dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directories(m_dir + "/spool");
    fs::create_directories(m_dir + "/run");
    fs::create_directories(m_dir + "/mail");
    [[maybe_unused]] const int rc =
        ::chown((m_dir + "/mail").c_str(), owner->pw_uid, owner->pw_gid);

    std::string table;
    for (const auto& user : users)
        table += user + "@" + domain + " " + kMailOwner + "\n";
    WriteFile(m_dir + "/users", table);
    m_port = FreeLoopbackPort();
    WriteFile(m_dir + "/smtpd.conf", "table users file:" + m_dir +
                                         "/users\n"
                                         "listen on 127.0.0.1 port " +
                                         std::to_string(m_port) +
                                         "\n"
                                         "action \"deliver\" maildir \"" +
                                         m_dir +
                                         "/mail/%{dest.user}\" virtual <users>\n"
                                         "match from any for domain \"" +
                                         domain + "\" action \"deliver\"\n");

    // /var/spool and /run are replaced in this server's namespace only; the
    // spool must be mode 711.
    const std::string script = "mount --bind " + m_dir +
                               "/spool /var/spool"
                               " && mkdir -m 711 /var/spool/smtpd"
                               " && mount --bind " +
                               m_dir +
                               "/run /run"
                               " && exec " +
                               kSmtpd + " -d -f " + m_dir + "/smtpd.conf";
    if (!m_process.start({kUnshare, "--mount", "--propagation", "private", "/bin/sh", "-c", script},
                         m_dir + "/smtpd.log")) {
        m_error = "cannot start smtpd";
        return;
    }
    if (!WaitForTcpPort(m_port, std::chrono::seconds(15)))
        m_error =
            "smtpd does not accept connections on port " + std::to_string(m_port) + ":\n" + log();
}

SmtpdInstance::~SmtpdInstance()
{
    m_process.stop();
    if (!m_dir.empty()) {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
}

std::vector<std::string> SmtpdInstance::waitForMessages(const std::string& user, std::size_t count,
                                                        std::chrono::milliseconds timeout) const
{
    const fs::path dir = m_dir + "/mail/" + user + "/new";
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::vector<std::pair<fs::file_time_type, std::string>> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec))
            files.emplace_back(entry.last_write_time(), entry.path().string());
        if (files.size() >= count || std::chrono::steady_clock::now() >= deadline) {
            std::sort(files.begin(), files.end());
            std::vector<std::string> messages;
            for (const auto& [when, path] : files)
                messages.push_back(ReadFile(path));
            return messages;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

} // namespace qm::test
