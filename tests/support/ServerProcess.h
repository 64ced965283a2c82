#pragma once

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qm::test {

// A free TCP (or UDP) port on 127.0.0.1 at the moment of the call.
int FreeLoopbackPort(bool udp = false);

// Empty when the program exists and is executable; otherwise a message that
// names the Debian package to install. Use: ASSERT_EQ(RequireProgram(...), "").
std::string RequireProgram(const std::string& path, const std::string& package);

// A TCP socket connected to 127.0.0.1:port; -1 when nothing accepts there.
int ConnectLoopback(int port);
// Sends one datagram to 127.0.0.1:port from a socket bound to the address
// `from` (any of 127.0.0.0/8); false when it could not be sent whole.
bool SendLoopbackDatagram(int port, const std::string& bytes, const std::string& from = "127.0.0.1");

// Blocks until something accepts TCP connections on 127.0.0.1:port.
bool WaitForTcpPort(int port, std::chrono::milliseconds timeout);
// Blocks until a UDP socket of this machine's namespace is bound to the port
// (on any address), as the kernel's table shows it.
bool WaitForUdpPort(int port, std::chrono::milliseconds timeout);

// A server program started by a test; stopped (TERM, then KILL) when destroyed.
class ServerProcess
{
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts argv[0] with the arguments; stdout and stderr go to logFile.
    bool start(const std::vector<std::string>& argv, const std::string& logFile,
               const std::map<std::string, std::string>& extraEnv = {});
    // Sends SIGTERM and waits (bounded) for the process to exit.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(5000));
    bool running();
    pid_t pid() const { return m_pid; }
    std::string log() const;

private:
    pid_t m_pid = -1;
    std::string m_logFile;
};

// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

} // namespace qm::test
