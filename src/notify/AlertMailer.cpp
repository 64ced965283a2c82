#include "notify/AlertMailer.h"

#include "probes/ProbeLimits.h"
#include "probes/ProbeSocket.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/socket.h>

namespace qm {

namespace {
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool Accepted(const std::string& reply, const char* code)
{
    return reply.substr(0, 3) == code;
}

// One SMTP conversation under a single deadline: every read and send waits
// at most the probe bounds and never past the deadline.
class MailDialogue
{
public:
    MailDialogue(ProbeSocket& probe, SteadyClock::time_point deadline)
        : m_probe(probe), m_deadline(deadline)
    {
    }

    int msLeft() const
    {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(m_deadline - SteadyClock::now())
                .count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

    void send(const std::string& text)
    {
        const int bound = std::max(1, std::min(kSendTimeoutMs, msLeft()));
        timeval tv{bound / 1000, (bound % 1000) * 1000};
        ::setsockopt(m_probe.socketHandle(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
        m_probe.SendText(text);
    }

    // One reply line, as the probes read it (up to the line feed, trimmed),
    // but with the wait for every byte cut short at the deadline.
    std::string reply()
    {
        const int left = msLeft();
        if (left <= 0) {
            m_probe.ReportFailure("Timed out");
            return {};
        }
        ProbeSocket::ReadOptions options;
        options.stopByte = '\n';
        options.totalLimitMs = left;
        return m_probe.ReceiveText(options);
    }

private:
    ProbeSocket& m_probe;
    SteadyClock::time_point m_deadline;
};
} // namespace

std::string HeloName(const std::string& from)
{
    const auto at = from.find('@');
    return at == std::string::npos ? std::string() : from.substr(0, at);
}

std::string MailDateText(std::time_t when)
{
    std::tm local{};
    ::localtime_r(&when, &local);
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    const long zone = (offsetMinutes < 0 ? -1 : 1) * ((magnitude / 60) * 100 + magnitude % 60);
    char text[64];
    std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d %+.04ld",
                  kWeekdays[local.tm_wday % 7], local.tm_mday, kMonths[local.tm_mon % 12],
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, zone);
    return text;
}

std::string BuildAlertMessage(const std::string& from, const std::string& to,
                              const std::string& subject, const std::string& body, std::time_t when)
{
    std::string message;
    message += "From: " + from + "\n";
    message += "Date: " + MailDateText(when) + "\n";
    message += "To: " + to + "\n";
    message += "Subject: " + subject + "\n";
    message += "X-mailer: Kestrune";
    message += "\n\n" + body + "\n";
    return message;
}

void SendAlertMail(ProbeSocket& probe, std::string server, std::string to, std::string from,
                   std::string subject, std::string body, int port)
{
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kMailDeadlineMs);
    const std::string helo = HeloName(from);
    // A server that cannot be resolved or reached ends the mail silently.
    if (!probe.ConnectStream(server, port, ProbeSocket::Failures::Silent))
        return;
    MailDialogue smtp(probe, deadline);

    // Any reply without the expected code ends the dialogue, without QUIT.
    auto step = [&](const std::string& command, const char* code) {
        smtp.send(command);
        return Accepted(smtp.reply(), code);
    };
    // The envelope addresses go out as given, without angle brackets, each
    // followed by a blank before the line end.
    if (Accepted(smtp.reply(), "220") && step("HELO " + helo + "\r\n", "250") &&
        step("MAIL FROM: " + from + " \r\n", "250") && step("RCPT TO: " + to + " \r\n", "250")) {
        smtp.send("DATA\r\n");
        smtp.reply(); // 354 or not, the message goes out
        const std::string message = BuildAlertMessage(from, to, subject, body, std::time(nullptr));
        if (step(message + " \r\n.\r\n", "250")) {
            smtp.send("QUIT \r\n");
            smtp.reply();
        }
    }
    probe.CloseSocket();
}

} // namespace qm
