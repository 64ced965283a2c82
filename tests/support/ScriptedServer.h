#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

// A socket of the type (SOCK_STREAM, SOCK_DGRAM) bound to a free port of
// 127.0.0.1; the port goes to *port.
int BindLoopback(int type, int* port);

// Runs `ready` on a thread of its own each time fd has something to read,
// until destroyed; then closes fd. The servers below keep it as their last
// member, so that it stops before the rest of them goes.
class PollThread
{
public:
    PollThread(int fd, std::function<void()> ready);
    ~PollThread();
    PollThread(const PollThread&) = delete;
    PollThread& operator=(const PollThread&) = delete;

private:
    int m_fd;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// One accepted connection of a ScriptedServer. Every wait is bounded.
class ScriptedConnection
{
public:
    explicit ScriptedConnection(int fd) : m_fd(fd) {}
    void send(const std::string& bytes);
    // Reads until the text contains `until` (or the peer closes, or timeout);
    // returns everything read so far on this connection since the last call.
    std::string receiveUntil(const std::string& until,
                             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Reads until the peer closes or the timeout expires.
    std::string receiveAll(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    void close();
    int fd() const { return m_fd; }
    // Every byte received on this connection so far.
    const std::string& log() const { return m_log; }

private:
    int m_fd;
    std::string m_pending;
    std::string m_log;
};

// A TCP server on 127.0.0.1 that runs a script for each accepted connection on
// its own thread and records every byte the peer sent.
class ScriptedServer
{
public:
    using Script = std::function<void(ScriptedConnection&)>;

    explicit ScriptedServer(Script script);

    int port() const { return m_port; }
    // Everything the peers sent, per connection, in accept order.
    std::vector<std::string> received() const;
    // Waits (bounded) until n connections have ended; received() then.
    std::vector<std::string> waitForReceived(std::size_t n,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    int connections() const { return m_connections.load(); }

private:
    void serve(int listenFd);

    Script m_script;
    int m_port = 0;
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_ended;
    std::vector<std::string> m_received;
    std::optional<PollThread> m_poll;
};

} // namespace qm::test
