#include "support/UdpScriptedServer.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace qm::test {

UdpScriptedServer::UdpScriptedServer(Script script) : m_script(std::move(script))
{
    const int fd = BindLoopback(SOCK_DGRAM, &m_port);
    m_poll.emplace(fd, [this, fd] { answer(fd); });
}

std::vector<std::string> UdpScriptedServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void UdpScriptedServer::answer(int fd)
{
    char buf[65536];
    sockaddr_in from{};
    socklen_t len = sizeof(from);
    const ssize_t n = ::recvfrom(fd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0)
        return;
    const std::string request(buf, static_cast<std::size_t>(n));
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
    }
    if (const auto reply = m_script(request))
        ::sendto(fd, reply->data(), reply->size(), 0, reinterpret_cast<sockaddr*>(&from), len);
}

} // namespace qm::test
