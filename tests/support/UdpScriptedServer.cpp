#include "support/UdpScriptedServer.h"

#include "support/ScriptedServer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm::test {

UdpScriptedServer::UdpScriptedServer(Script script) : m_script(std::move(script))
{
    m_fd = BindLoopback(SOCK_DGRAM, &m_port);
    m_thread = std::thread([this] { run(); });
}

UdpScriptedServer::~UdpScriptedServer()
{
    m_stop = true;
    m_thread.join();
    ::close(m_fd);
}

std::vector<std::string> UdpScriptedServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void UdpScriptedServer::run()
{
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buf[65536];
        sockaddr_in from{};
        socklen_t len = sizeof(from);
        const ssize_t n = ::recvfrom(m_fd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            continue;
        const std::string request(buf, static_cast<std::size_t>(n));
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
        }
        if (const auto reply = m_script(request))
            ::sendto(m_fd, reply->data(), reply->size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
}

} // namespace qm::test
