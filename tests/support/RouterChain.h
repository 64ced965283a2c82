#pragma once

#include "support/Command.h"
#include "support/TestNamespace.h"

#include <memory>
#include <string>
#include <vector>

namespace qm::test {

// Network namespaces of the test's own in a row. The client, 10.201.1.2,
// routes everything to router one, 10.201.1.1; namespace k (from 2) is linked
// to the one before it over 10.201.k.0/24 (.1 on the near side, .2 its own)
// and routes everything back. The client names hosts from a hosts file of its
// own and has no name server but its own loopback. Removed on destruction.
class RouterChain
{
public:
    // count: the client and the namespaces after it; hosts: the client's
    // /etc/hosts.
    RouterChain(std::size_t count, const std::string& hosts);
    ~RouterChain();
    RouterChain(const RouterChain&) = delete;
    RouterChain& operator=(const RouterChain&) = delete;

    bool ok() const { return m_log.empty(); }
    // The commands that failed, with their output.
    const std::string& log() const { return m_log; }
    const std::string& name(std::size_t i) const { return m_namespaces.at(i)->name(); }

    // Runs a shell command; a failure goes to the log.
    void step(const std::string& command);
    // Namespace i forwards, sends ICMP errors without a rate limit and no
    // redirects; extra: more sysctl settings.
    void router(std::size_t i, const std::string& extra = {});
    CommandResult runInClient(const std::string& command, int limitSeconds = 60) const;

private:
    std::vector<std::unique_ptr<TestNamespace>> m_namespaces;
    std::string m_etc;
    std::string m_log;
};

} // namespace qm::test
