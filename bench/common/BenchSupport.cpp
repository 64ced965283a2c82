#include "BenchSupport.h"

#include <arpa/inet.h>
#include <ctime>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace qm::bench {

namespace {
long StatusKiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == field) {
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}
} // namespace

long RssKiB()
{
    return StatusKiB("VmRSS:");
}

long PeakRssKiB()
{
    return StatusKiB("VmHWM:");
}

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double ThreadRunQueueMs()
{
    // /proc/thread-self/schedstat: time on the CPU, time waiting on a run
    // queue (both ns), time slices.
    std::ifstream in("/proc/thread-self/schedstat");
    unsigned long long onCpu = 0, waiting = 0;
    in >> onCpu >> waiting;
    return static_cast<double>(waiting) / 1e6;
}

LoopbackHttpServer::LoopbackHttpServer()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_fd, 4096);
    socklen_t len = sizeof a;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { run(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    m_stop = true;
    ::shutdown(m_fd, SHUT_RDWR);
    m_thread.join();
    ::close(m_fd);
}

void LoopbackHttpServer::run()
{
    static const char kReply[] = "HTTP/1.1 200 OK\r\nServer: bench\r\n\r\n";
    while (!m_stop) {
        const int c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            continue;
        [[maybe_unused]] const ssize_t n = ::send(c, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
        ::close(c);
        ++m_answered;
    }
}

} // namespace qm::bench
