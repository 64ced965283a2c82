#include "support/ServerProcess.h"
#include "support/ScriptedServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qm::test {

namespace {
sockaddr_in Loopback(int port, const std::string& address = "127.0.0.1")
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

// Polls `ready` every `step` until it holds or the timeout passes.
bool PollUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (ready())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
}
} // namespace

int FreeLoopbackPort(bool udp)
{
    // A port below the ephemeral range: between this check and the server's
    // own bind, no client socket and no bind to port 0 (of this or a parallel
    // test) can take it. Random, so parallel tests rarely try the same one.
    int ephemeralLow = 32768;
    std::ifstream(std::string("/proc/sys/net/ipv4/ip_local_port_range")) >> ephemeralLow;
    thread_local std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pick(10000, std::max(10001, ephemeralLow - 1));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int port = pick(random);
        const int fd = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
        const sockaddr_in a = Loopback(port);
        const bool free = ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) == 0;
        ::close(fd);
        if (free)
            return port;
    }
    int port = 0;
    ::close(BindLoopback(udp ? SOCK_DGRAM : SOCK_STREAM, &port));
    return port;
}

std::string RequireProgram(const std::string& path, const std::string& package)
{
    if (::access(path.c_str(), X_OK) == 0)
        return {};
    return path + " is missing: install the Debian package " + package + " (scripts/install-deps.sh does)";
}

int ConnectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = Loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) == 0)
        return fd;
    ::close(fd);
    return -1;
}

bool SendLoopbackDatagram(int port, const std::string& bytes, const std::string& from)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int size = 1 << 20; // room for the largest datagram
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
    const sockaddr_in source = Loopback(0, from), to = Loopback(port);
    const bool sent =
        ::bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof(source)) == 0 &&
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof(to)) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return sent;
}

bool WaitForTcpPort(int port, std::chrono::milliseconds timeout)
{
    return PollUntil(
        [port] {
            const int fd = ConnectLoopback(port);
            return fd >= 0 && ::close(fd) == 0;
        },
        timeout, std::chrono::milliseconds(50));
}

bool WaitForUdpPort(int port, std::chrono::milliseconds timeout)
{
    char suffix[8];
    std::snprintf(suffix, sizeof(suffix), ":%04X", port);
    return PollUntil(
        [&suffix] {
            std::istringstream table(ReadFile("/proc/net/udp"));
            std::string line, slot, local;
            std::getline(table, line); // the titles
            while (table >> slot >> local && std::getline(table, line))
                if (local.ends_with(suffix))
                    return true;
            return false;
        },
        timeout, std::chrono::milliseconds(20));
}

ServerProcess::~ServerProcess()
{
    stop();
}

bool ServerProcess::start(const std::vector<std::string>& argv, const std::string& logFile,
                          const std::map<std::string, std::string>& extraEnv)
{
    m_logFile = logFile;
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        ::setpgid(0, 0);
        const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        for (const auto& [k, v] : extraEnv)
            ::setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    m_pid = pid;
    return true;
}

bool ServerProcess::running()
{
    if (m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
        m_pid = -1;
    return m_pid > 0;
}

void ServerProcess::stop(std::chrono::milliseconds grace)
{
    const pid_t pid = m_pid;
    if (pid <= 0)
        return;
    ::kill(-pid, SIGTERM);
    ::kill(pid, SIGTERM);
    if (!PollUntil([this] { return !running(); }, grace, std::chrono::milliseconds(20))) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    ::kill(-pid, SIGKILL); // children left in its process group
    m_pid = -1;
}

std::string ServerProcess::log() const
{
    return ReadFile(m_logFile);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

} // namespace qm::test
