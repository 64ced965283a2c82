#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm::test {

int BindLoopback(int type, int* port)
{
    const int fd = ::socket(AF_INET, type, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

PollThread::PollThread(int fd, std::function<void()> ready)
    : m_fd(fd), m_thread([this, ready = std::move(ready)] {
          while (!m_stop) {
              pollfd p{m_fd, POLLIN, 0};
              if (::poll(&p, 1, 50) > 0)
                  ready();
          }
      })
{
}

PollThread::~PollThread()
{
    m_stop = true;
    m_thread.join();
    ::close(m_fd);
}

void ScriptedConnection::send(const std::string& bytes)
{
    std::size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += static_cast<std::size_t>(n);
    }
}

std::string ScriptedConnection::receiveUntil(const std::string& until, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t at;
    while ((at = until.empty() ? std::string::npos : m_pending.find(until)) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{m_fd, POLLIN, 0};
        char buf[4096];
        ssize_t n = 0;
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
            (n = ::recv(m_fd, buf, sizeof(buf), 0)) <= 0)
            break;
        m_pending.append(buf, static_cast<std::size_t>(n));
        m_log.append(buf, static_cast<std::size_t>(n));
    }
    const std::size_t end = at == std::string::npos ? m_pending.size() : at + until.size();
    std::string out = m_pending.substr(0, end);
    m_pending.erase(0, end);
    return out;
}

std::string ScriptedConnection::receiveAll(std::chrono::milliseconds timeout)
{
    return receiveUntil(std::string(), timeout);
}

void ScriptedConnection::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

ScriptedServer::ScriptedServer(Script script) : m_script(std::move(script))
{
    const int fd = BindLoopback(SOCK_STREAM, &m_port);
    ::listen(fd, 16);
    m_poll.emplace(fd, [this, fd] { serve(fd); });
}

std::vector<std::string> ScriptedServer::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::vector<std::string> ScriptedServer::waitForReceived(std::size_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    m_ended.wait_for(lock, timeout, [&] { return m_received.size() >= n; });
    return m_received;
}

void ScriptedServer::serve(int listenFd)
{
    const int fd = ::accept(listenFd, nullptr, nullptr);
    if (fd < 0)
        return;
    ++m_connections;
    ScriptedConnection conn(fd);
    m_script(conn);
    // Whatever the peer still sends before closing is recorded too.
    if (conn.fd() >= 0)
        conn.receiveAll(std::chrono::milliseconds(200));
    conn.close();
    {
        std::lock_guard lock(m_mutex);
        m_received.push_back(conn.log());
    }
    m_ended.notify_all();
}

} // namespace qm::test
