#include "support/MaildirSmtpServer.h"

#include "support/Command.h"

#include <algorithm>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace qm::test {

namespace {
// Debian's interpreter, which sees the packaged modules.
const char* const kPython = "/usr/bin/python3";
} // namespace

MaildirSmtpServer::MaildirSmtpServer(int port) : m_dir("qm-notify-mta")
{
    m_error = RequireProgram(kPython, "python3");
    if (!m_error.empty())
        return;
    if (RunCommand(std::string(kPython) + " -c \"import aiosmtpd\"", 30).status != 0) {
        m_error = std::string(kPython) +
                  " cannot import aiosmtpd: install the Debian package python3-aiosmtpd"
                  " (scripts/install-deps.sh does)";
        return;
    }
    if (m_dir.path().empty()) {
        m_error = "cannot create a scratch directory";
        return;
    }
    m_port = port != 0 ? port : FreeLoopbackPort();
    // -n: stay the user we are; the Mailbox handler delivers into a maildir.
    if (!m_process.start({kPython, "-m", "aiosmtpd", "-n", "-l",
                          "127.0.0.1:" + std::to_string(m_port), "-c", "aiosmtpd.handlers.Mailbox",
                          m_dir / "mail"},
                         m_dir / "server.log", {{"PYTHONDONTWRITEBYTECODE", "1"}})) {
        m_error = "cannot start aiosmtpd";
        return;
    }
    if (!WaitForTcpPort(m_port, std::chrono::seconds(15)))
        m_error = "aiosmtpd does not accept connections on port " + std::to_string(m_port) + ":\n" +
                  log();
}

std::vector<std::string> MaildirSmtpServer::waitForMessages(std::size_t count,
                                                            std::chrono::milliseconds timeout) const
{
    const fs::path dir = m_dir / "mail/new";
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
