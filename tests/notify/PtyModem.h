#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

// A Hayes modem played on the master side of a pseudo-terminal: the code
// under test opens slavePath() as its modem device. Every AT command is
// answered OK, except the dial command, which gets dialReply (nothing when
// empty). The escape "+++" is answered OK too.
class PtyModem
{
public:
    explicit PtyModem(std::string dialReply = {});
    ~PtyModem();
    PtyModem(const PtyModem&) = delete;
    PtyModem& operator=(const PtyModem&) = delete;

    const std::string& slavePath() const { return m_slavePath; }
    // Every command line received, in order ("+++" included).
    std::vector<std::string> commands() const;
    // Every byte received.
    std::string received() const;
    // Waits (bounded) until a command with this prefix arrived.
    bool waitForCommand(const std::string& prefix, std::chrono::milliseconds timeout) const;
    bool sawCommand(const std::string& prefix) const { return waitForCommand(prefix, std::chrono::milliseconds(0)); }
    // When false the modem stays silent, like a device that is not a modem.
    void setAnswering(bool answering) { m_answering = answering; }

private:
    void run();
    void addCommand(const std::string& line);
    void reply(const std::string& text);

    std::string m_dialReply;
    int m_master = -1;
    int m_slave = -1; // held open so the master never sees the line vanish
    std::string m_slavePath;
    std::atomic<bool> m_answering{true};
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_commandSeen;
    std::vector<std::string> m_commands;
    std::string m_received;
    std::thread m_thread;
};

} // namespace qm::test
