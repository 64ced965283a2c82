#pragma once

#include "support/ScratchDir.h"
#include "support/ServerProcess.h"

#include <chrono>
#include <string>
#include <vector>

namespace qm::test {

// A real SMTP server (aiosmtpd from Debian's python3-aiosmtpd) on a free
// loopback port that stores every message it accepts in one maildir of a
// private scratch directory. It takes envelope addresses with or without angle
// brackets and records them in X-MailFrom and X-RcptTo headers of the stored
// message, so a test sees what the server made of MAIL FROM and RCPT TO.
class MaildirSmtpServer
{
public:
    // port 0: a free one. A fixed port (25) is for a test's own namespace.
    explicit MaildirSmtpServer(int port = 0);
    MaildirSmtpServer(const MaildirSmtpServer&) = delete;
    MaildirSmtpServer& operator=(const MaildirSmtpServer&) = delete;

    // Empty when the server accepts connections; otherwise why not.
    const std::string& error() const { return m_error; }
    int port() const { return m_port; }
    std::string log() const { return m_process.log(); }

    // The stored messages, oldest first, once at least `count` are there;
    // fewer when the time runs out.
    std::vector<std::string> waitForMessages(std::size_t count,
                                             std::chrono::milliseconds timeout) const;

private:
    ScratchDir m_dir;
    std::string m_error;
    int m_port = 0;
    ServerProcess m_process; // stopped before its directory goes
};

} // namespace qm::test
