#include "support/ServerProcess.h"
#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qm::test {

int FreeLoopbackPort(bool udp)
{
    int port = 0;
    const int fd = BindLoopback(udp ? SOCK_DGRAM : SOCK_STREAM, &port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

std::string RequireProgram(const std::string& path, const std::string& package)
{
    if (::access(path.c_str(), X_OK) == 0)
        return {};
    return path + " is missing: install the Debian package " + package + " (scripts/install-deps.sh does)";
}

bool WaitForTcpPort(int port, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
        ::close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool WaitForUdpPort(int port, std::chrono::milliseconds timeout)
{
    char suffix[8];
    std::snprintf(suffix, sizeof(suffix), ":%04X", port);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        std::istringstream table(ReadFile("/proc/net/udp"));
        std::string line, slot, local;
        std::getline(table, line); // the titles
        while (table >> slot >> local && std::getline(table, line))
            if (local.ends_with(suffix))
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
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
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            ::dup2(devnull, 0);
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
    if (m_pid <= 0)
        return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

void ServerProcess::stop(std::chrono::milliseconds grace)
{
    if (m_pid <= 0)
        return;
    ::kill(-m_pid, SIGTERM);
    ::kill(m_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            ::kill(-m_pid, SIGKILL); // children left in its process group
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-m_pid, SIGKILL);
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

} // namespace qm::test
