#pragma once

#include "support/ServerProcess.h"

#include <chrono>
#include <string>
#include <vector>

namespace qm::test {

// A real OpenSMTPD on a free loopback port that delivers mail for one domain
// into maildirs of a scratch directory. Its spool and control socket have fixed
// paths, so it runs in a private mount namespace with both bound to the scratch
// directory: several instances (ours and other tests') never meet.
class SmtpdInstance
{
public:
    // Mail to `user`@`domain` is delivered to maildir(user).
    SmtpdInstance(const std::string& domain, const std::vector<std::string>& users);
    ~SmtpdInstance();
    SmtpdInstance(const SmtpdInstance&) = delete;
    SmtpdInstance& operator=(const SmtpdInstance&) = delete;

    // Empty when the server accepts connections; otherwise why not.
    const std::string& error() const { return m_error; }
    int port() const { return m_port; }
    std::string log() const { return m_process.log(); }

    // The delivered messages of a user, oldest first, once at least `count`
    // are there; fewer when the time runs out.
    std::vector<std::string> waitForMessages(const std::string& user, std::size_t count,
                                             std::chrono::milliseconds timeout) const;

private:
    std::string m_dir;
    std::string m_error;
    int m_port = 0;
    ServerProcess m_process;
};

} // namespace qm::test
