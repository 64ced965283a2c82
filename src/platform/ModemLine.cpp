#include "platform/ModemLine.h"

#include "platform/Clock.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace qm {

namespace {
using SteadyClock = std::chrono::steady_clock;

std::string TrimUpper(const std::string& text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1])))
        --e;
    std::string out = text.substr(b, e - b);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

void Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

ModemLine::~ModemLine()
{
    close();
}

bool ModemLine::open(const std::string& device, std::string* error)
{
    close();
    auto fail = [&](const std::string& why) {
        if (error)
            *error = device + ": " + why;
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return false;
    };
    if (device.empty())
        return fail("no device configured");
    m_fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return fail(std::strerror(errno));
    termios tio{};
    if (!::isatty(m_fd) || ::tcgetattr(m_fd, &tio) != 0)
        return fail("not a serial device");
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD | HUPCL; // closing the line drops DTR, which hangs up
    tio.c_cflag &= ~CRTSCTS;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetspeed(&tio, B115200);
    if (::tcsetattr(m_fd, TCSANOW, &tio) != 0)
        return fail(std::strerror(errno));
    ::tcflush(m_fd, TCIOFLUSH);
    m_device = device;
    m_buffer.clear();
    m_gone = false;
    return true;
}

void ModemLine::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_buffer.clear();
    m_gone = false;
}

bool ModemLine::writeAll(const std::string& bytes, int timeoutMs)
{
    if (m_fd < 0)
        return false;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{m_fd, POLLOUT, 0};
        if (::poll(&p, 1, MsUntil(deadline)) <= 0 || (p.revents & (POLLERR | POLLHUP)))
            return false;
    }
    return true;
}

bool ModemLine::fill(int timeoutMs)
{
    if (m_fd < 0 || m_gone)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    int rc;
    do
        rc = ::poll(&p, 1, timeoutMs);
    while (rc < 0 && errno == EINTR);
    if (rc <= 0)
        return true;
    char chunk[256];
    const ssize_t n = ::read(m_fd, chunk, sizeof(chunk));
    if (n > 0) {
        m_buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    // End of file or EIO: the other end of the line has gone.
    m_gone = true;
    return false;
}

std::optional<std::string> ModemLine::takeLine()
{
    const auto end = m_buffer.find_first_of("\r\n");
    if (end == std::string::npos)
        return std::nullopt;
    std::string line = m_buffer.substr(0, end);
    m_buffer.erase(0, end + 1);
    return line;
}

std::optional<ModemLine::Event> ModemLine::nextEvent(int timeoutMs)
{
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (auto line = takeLine()) {
            const std::string word = TrimUpper(*line);
            if (word.empty() || word.rfind("AT", 0) == 0)
                continue; // blank or an echoed command
            return Event{Classify(word), *line};
        }
        if (m_fd < 0 || m_gone)
            return Event{Reply::Closed, {}};
        const int left = MsUntil(deadline);
        if (left <= 0)
            return std::nullopt;
        fill(left);
    }
}

bool ModemLine::waitForOk(int timeoutMs)
{
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto event = nextEvent(MsUntil(deadline));
        if (!event)
            return false;
        if (event->reply == Reply::Ok)
            return true;
        if (event->reply == Reply::Error || event->reply == Reply::Closed)
            return false;
    }
}

bool ModemLine::reset(int timeoutMs)
{
    if (m_fd < 0)
        return false;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    ::tcflush(m_fd, TCIFLUSH);
    m_buffer.clear();
    if (!writeAll("ATZ\r", MsUntil(deadline)) || !waitForOk(MsUntil(deadline)))
        return false;
    // Verbose codes, no echo, results reported, busy and dial tone detected.
    return writeAll("ATE0V1Q0X4\r", MsUntil(deadline)) && waitForOk(MsUntil(deadline));
}

bool ModemLine::dial(const std::string& sequence)
{
    return writeAll("ATD" + sequence + "\r", 2000);
}

void ModemLine::dropCall(bool online)
{
    if (m_fd < 0 || m_gone)
        return;
    int dtr = TIOCM_DTR;
    const bool dtrDropped = ::ioctl(m_fd, TIOCMBIC, &dtr) == 0;
    if (dtrDropped) {
        Pause(500);
        ::ioctl(m_fd, TIOCMBIS, &dtr);
    } else if (online) {
        // Back to command mode: guard time, escape, guard time.
        Pause(1100);
        writeAll("+++", 500);
        Pause(1100);
    }
    if (writeAll("ATH0\r", 500))
        waitForOk(1000);
}

ModemLine::Reply ModemLine::Classify(const std::string& line)
{
    const std::string word = TrimUpper(line);
    if (!word.empty() &&
        std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        switch (std::stoi(word.substr(0, 4))) {
        case 0:
            return Reply::Ok;
        case 2:
            return Reply::Ring;
        case 3:
            return Reply::NoCarrier;
        case 4:
            return Reply::Error;
        case 6:
            return Reply::NoDialTone;
        case 7:
            return Reply::Busy;
        case 8:
            return Reply::NoAnswer;
        default:
            return Reply::Connect; // 1, 5 and the numbered CONNECT speeds
        }
    }
    if (word == "OK")
        return Reply::Ok;
    if (word.rfind("CONNECT", 0) == 0)
        return Reply::Connect;
    if (word == "RING")
        return Reply::Ring;
    if (word == "NO CARRIER")
        return Reply::NoCarrier;
    if (word == "ERROR")
        return Reply::Error;
    if (word == "NO DIALTONE" || word == "NO DIAL TONE")
        return Reply::NoDialTone;
    if (word == "BUSY")
        return Reply::Busy;
    if (word == "NO ANSWER")
        return Reply::NoAnswer;
    return Reply::Other;
}

} // namespace qm
