#include "notify/AlertMailer.h"

#include "probes/ProbeLimits.h"
#include "probes/ProbeSocket.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

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

// A permanent refusal: "5" and two more digits.
bool Refused(const std::string& reply)
{
    return reply.size() >= 3 && reply[0] == '5' &&
           std::isdigit(static_cast<unsigned char>(reply[1])) &&
           std::isdigit(static_cast<unsigned char>(reply[2]));
}

std::string LocalHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
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

    // A whole reply: its "NNN-" lines and the "NNN " line that ends it.
    std::string wholeReply()
    {
        std::string line = reply();
        for (int more = 0; more < 100 && line.size() > 3 && line[3] == '-'; ++more)
            line = reply();
        return line;
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

namespace {
// The message as the standard DATA part carries it: every line end CR LF, a
// dot at the start of a line doubled, a last line end added when missing.
std::string StrictMessageData(const std::string& message)
{
    std::string data;
    data.reserve(message.size() + message.size() / 16 + 8);
    bool lineStart = true;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n')
                ++i;
            data += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.')
            data += '.';
        data += c;
        lineStart = false;
    }
    if (!lineStart)
        data += "\r\n";
    return data;
}

// The mail once more, for a server that refused the bare envelope: angle
// brackets, a HELO name that is never empty, whole multi-line replies, and
// the message with CR LF line ends and dot-stuffing.
void SendStrictMail(ProbeSocket& probe, const std::string& server, int port, std::string helo,
                    const std::string& from, const std::string& to, const std::string& message,
                    SteadyClock::time_point deadline)
{
    if (!probe.ConnectStream(server, port, ProbeSocket::Failures::Silent))
        return;
    if (helo.empty())
        helo = LocalHostName();
    MailDialogue smtp(probe, deadline);
    auto step = [&](const std::string& command, const char* code) {
        smtp.send(command);
        return Accepted(smtp.wholeReply(), code);
    };
    if (Accepted(smtp.wholeReply(), "220") && step("HELO " + helo + "\r\n", "250") &&
        step("MAIL FROM:<" + from + ">\r\n", "250") && step("RCPT TO:<" + to + ">\r\n", "250") &&
        step("DATA\r\n", "354") && step(StrictMessageData(message) + ".\r\n", "250")) {
        smtp.send("QUIT\r\n");
        smtp.wholeReply();
    }
    probe.CloseSocket();
}
} // namespace

void SendAlertMail(ProbeSocket& probe, std::string server, std::string to, std::string from,
                   std::string subject, std::string body, int port)
{
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kMailDeadlineMs);
    const std::string helo = HeloName(from);
    const std::string message = BuildAlertMessage(from, to, subject, body, std::time(nullptr));
    // A server that cannot be resolved or reached ends the mail silently.
    if (!probe.ConnectStream(server, port, ProbeSocket::Failures::Silent))
        return;
    bool envelopeRefused = false;
    {
        MailDialogue smtp(probe, deadline);
        std::string last;
        // Any reply without the expected code ends the dialogue, without QUIT.
        auto step = [&](const std::string& command, const char* code) {
            smtp.send(command);
            last = smtp.reply();
            return Accepted(last, code);
        };
        // The envelope addresses go out as given, without angle brackets, each
        // followed by a blank before the line end.
        if (Accepted(smtp.reply(), "220") && step("HELO " + helo + "\r\n", "250")) {
            if (!step("MAIL FROM: " + from + " \r\n", "250") ||
                !step("RCPT TO: " + to + " \r\n", "250")) {
                envelopeRefused = Refused(last);
            } else {
                smtp.send("DATA\r\n");
                smtp.reply(); // 354 or not, the message goes out
                if (step(message + " \r\n.\r\n", "250")) {
                    smtp.send("QUIT \r\n");
                    smtp.reply();
                }
            }
        }
    }
    probe.CloseSocket();
    // A strict server that refuses the bare envelope gets the mail once more
    // in the standard form.
    if (envelopeRefused)
        SendStrictMail(probe, server, port, helo, from, to, message, deadline);
}

} // namespace qm
