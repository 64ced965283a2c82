#pragma once

#include <ctime>
#include <string>

namespace qm {

class ProbeSocket;

inline constexpr int kSmtpPort = 25;
// However slowly a server answers, one alert mail gives up after this long.
inline constexpr int kMailDeadlineMs = 30000;

// The HELO name: the From address up to its first "@"; empty without one.
std::string HeloName(const std::string& from);

// The local time as "Mon, 06 Jan 2025 14:03:09 +0100": English day and month
// names and the zone as a signed hhmm number.
std::string MailDateText(std::time_t when);

// The message that goes after DATA: From, Date, To, Subject and X-mailer
// headers, an empty line and the body, every line ending in a bare line feed.
std::string BuildAlertMessage(const std::string& from, const std::string& to,
                              const std::string& subject, const std::string& body,
                              std::time_t when);

// Sends one alert mail through the SMTP server with a minimal dialogue:
// greeting, HELO, MAIL FROM, RCPT TO, DATA, the message, QUIT. An unexpected
// reply ends the dialogue silently; send and receive failures are reported
// through the probe's sink as usual. When the server refuses the bare MAIL
// FROM or RCPT TO with a 5xx reply, the mail is sent once more on a new
// connection in the standard form (addresses in angle brackets, CR LF line
// ends and dot-stuffing in the message); both share one deadline. Nothing is
// returned: the alert is best effort. `port` is 25 except in tests.
void SendAlertMail(ProbeSocket& probe, std::string server, std::string to, std::string from,
                   std::string subject, std::string body, int port = kSmtpPort);

} // namespace qm
