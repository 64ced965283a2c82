#pragma once

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qm::test {

// A Hayes modem played on the master side of a pseudo-terminal: the code
// under test opens slavePath() as its modem device. Every AT command is
// answered OK, except the dial command, which gets dialReply (nothing when
// empty). The escape "+++" is answered OK too.
class PtyModem
{
public:
    explicit PtyModem(std::string dialReply = {}) : m_dialReply(std::move(dialReply))
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        m_slavePath = ::ptsname(m_master);
        m_slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios tio{};
        if (m_slave >= 0 && ::tcgetattr(m_slave, &tio) == 0) {
            ::cfmakeraw(&tio); // no echo of our replies back to us
            ::tcsetattr(m_slave, TCSANOW, &tio);
        }
        m_thread = std::thread([this] { run(); });
    }
    ~PtyModem()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (int fd : {m_slave, m_master})
            if (fd >= 0)
                ::close(fd);
    }
    PtyModem(const PtyModem&) = delete;
    PtyModem& operator=(const PtyModem&) = delete;

    const std::string& slavePath() const { return m_slavePath; }
    // Every command line received, in order ("+++" included).
    std::vector<std::string> commands() const
    {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }
    // Every byte received.
    std::string received() const
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    // Waits (bounded) until a command with this prefix arrived.
    bool waitForCommand(const std::string& prefix, std::chrono::milliseconds timeout) const
    {
        std::unique_lock lock(m_mutex);
        return m_commandSeen.wait_for(lock, timeout, [&] {
            for (const auto& c : m_commands)
                if (c.rfind(prefix, 0) == 0)
                    return true;
            return false;
        });
    }
    bool sawCommand(const std::string& prefix) const
    {
        return waitForCommand(prefix, std::chrono::milliseconds(0));
    }
    // When false the modem stays silent, like a device that is not a modem.
    void setAnswering(bool answering) { m_answering = answering; }

private:
    // Takes a command line and answers it.
    void command(const std::string& line)
    {
        {
            std::lock_guard lock(m_mutex);
            m_commands.push_back(line);
        }
        m_commandSeen.notify_all();
        std::string upper = line;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const bool dial = upper.rfind("ATD", 0) == 0;
        const std::string reply =
            dial ? m_dialReply : upper == "+++" || upper.rfind("AT", 0) == 0 ? "OK" : "";
        if (m_answering && !reply.empty()) {
            const std::string bytes = "\r\n" + reply + "\r\n";
            [[maybe_unused]] const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
        }
    }

    void run()
    {
        std::string pending;
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            char buf[256];
            const ssize_t n =
                ::poll(&p, 1, 50) > 0 && (p.revents & POLLIN) ? ::read(m_master, buf, sizeof(buf)) : 0;
            if (n <= 0)
                continue;
            pending.append(buf, static_cast<std::size_t>(n));
            {
                std::lock_guard lock(m_mutex);
                m_received.append(buf, static_cast<std::size_t>(n));
            }
            for (;;) {
                std::size_t length = 3, skip = 3; // the escape has no line end
                if (pending.rfind("+++", 0) != 0) {
                    if ((length = pending.find_first_of("\r\n")) == std::string::npos)
                        break;
                    skip = length + 1;
                }
                const std::string line = pending.substr(0, length);
                pending.erase(0, skip);
                if (!line.empty())
                    command(line);
            }
        }
    }

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
