#include "support/RouterChain.h"

#include "support/ServerProcess.h"

#include <array>
#include <atomic>
#include <filesystem>
#include <unistd.h>

namespace qm::test {

RouterChain::RouterChain(std::size_t count, const std::string& hosts)
{
    for (std::size_t i = 0; i < count; ++i) {
        m_namespaces.push_back(std::make_unique<TestNamespace>());
        m_log += m_namespaces.back()->error();
    }
    if (!ok())
        return;
    static std::atomic<int> chains{0};
    const std::string v = "qr" + std::to_string(::getpid() % 100000) + std::to_string(chains++ % 10);
    for (std::size_t k = 1; k < count; ++k) {
        const std::string net = "10.201." + std::to_string(k) + ".";
        const std::string near = v + char('a' + 2 * k), own = v + char('b' + 2 * k);
        // The client is .2 on its link, every other namespace .2 on the link before it.
        const std::string nearAddress = net + (k == 1 ? "2/24" : "1/24");
        const std::string ownAddress = net + (k == 1 ? "1/24" : "2/24");
        step("ip link add " + near + " netns " + name(k - 1) + " type veth peer name " + own + " netns " + name(k));
        for (const auto& [ns, dev, cidr] : std::vector<std::array<std::string, 3>>{{name(k - 1), near, nearAddress},
                                                                                  {name(k), own, ownAddress}})
            step("ip -n " + ns + " addr add " + cidr + " dev " + dev + " && ip -n " + ns + " link set " + dev + " up");
        if (k >= 2)
            step("ip -n " + name(k) + " route add default via " + net + "1");
    }
    step("ip -n " + name(0) + " route add default via 10.201.1.1");
    m_etc = "/etc/netns/" + name(0);
    std::filesystem::create_directories(m_etc);
    WriteFile(m_etc + "/hosts", hosts);
    WriteFile(m_etc + "/resolv.conf", "nameserver 127.0.0.1\n");
}

RouterChain::~RouterChain()
{
    std::error_code ignored;
    if (!m_etc.empty())
        std::filesystem::remove_all(m_etc, ignored);
}

void RouterChain::step(const std::string& command)
{
    const CommandResult r = RunCommand(command, 30);
    if (r.status != 0)
        m_log += "$ " + command + "\n" + r.output;
}

void RouterChain::router(std::size_t i, const std::string& extra)
{
    step("ip netns exec " + name(i) + " sysctl -qw net.ipv4.ip_forward=1 net.ipv4.icmp_ratelimit=0"
         " net.ipv4.conf.all.send_redirects=0 " + extra);
}

CommandResult RouterChain::runInClient(const std::string& command, int limitSeconds) const
{
    return RunCommand("ip netns exec " + name(0) + " " + command, limitSeconds);
}

} // namespace qm::test
