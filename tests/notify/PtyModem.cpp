#include "PtyModem.h"

#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace qm::test {

PtyModem::PtyModem(std::string dialReply) : m_dialReply(std::move(dialReply))
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

PtyModem::~PtyModem()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

std::vector<std::string> PtyModem::commands() const
{
    std::lock_guard lock(m_mutex);
    return m_commands;
}

std::string PtyModem::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

bool PtyModem::waitForCommand(const std::string& prefix, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_commandSeen.wait_for(lock, timeout, [&] {
        for (const auto& c : m_commands)
            if (c.rfind(prefix, 0) == 0)
                return true;
        return false;
    });
}

void PtyModem::addCommand(const std::string& line)
{
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(line);
    }
    m_commandSeen.notify_all();
}

void PtyModem::reply(const std::string& text)
{
    if (!m_answering)
        return;
    const std::string bytes = "\r\n" + text + "\r\n";
    [[maybe_unused]] const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
}

void PtyModem::run()
{
    std::string pending;
    while (!m_stop) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0 || !(p.revents & POLLIN))
            continue;
        char buf[256];
        const ssize_t n = ::read(m_master, buf, sizeof(buf));
        if (n <= 0)
            continue;
        pending.append(buf, static_cast<std::size_t>(n));
        {
            std::lock_guard lock(m_mutex);
            m_received.append(buf, static_cast<std::size_t>(n));
        }
        for (;;) {
            if (pending.rfind("+++", 0) == 0) {
                pending.erase(0, 3);
                addCommand("+++");
                reply("OK");
                continue;
            }
            const auto end = pending.find_first_of("\r\n");
            if (end == std::string::npos)
                break;
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.empty())
                continue;
            addCommand(line);
            std::string upper = line;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (upper.rfind("ATD", 0) == 0) {
                if (!m_dialReply.empty())
                    reply(m_dialReply);
            } else if (upper.rfind("AT", 0) == 0) {
                reply("OK");
            }
        }
    }
}

} // namespace qm::test
