#include "probes/ProbeConversation.h"
#include "probes/ProbeSocket.h"

#include <array>
#include <climits>
#include <netdb.h>
#include <unistd.h>

namespace qm {

namespace {
using Step = ProbeConversation::Step;

// The SMTP envelope address: user id and e-mail domain joined as they are.
std::string Envelope(const std::string& userId, const std::string& domain)
{
    return userId + domain;
}

// This machine's name as `hostname -f` gives it: the canonical name of the
// host name, else the host name itself. Looked up once per process, so that
// no poll waits on the resolver for it again.
std::string MachineName()
{
    static const std::string name = [] {
        char own[HOST_NAME_MAX + 1] = {};
        if (::gethostname(own, sizeof(own) - 1) != 0)
            return std::string();
        addrinfo hints{};
        hints.ai_flags = AI_CANONNAME;
        addrinfo* list = nullptr;
        std::string result = own;
        if (::getaddrinfo(own, nullptr, &hints, &list) == 0) {
            if (list != nullptr && list->ai_canonname != nullptr && *list->ai_canonname != '\0')
                result = list->ai_canonname;
            ::freeaddrinfo(list);
        }
        return result;
    }();
    return name;
}

// The HELO and EHLO argument: the user id, or this machine's name without one.
std::string HeloName(const std::string& userId)
{
    return userId.empty() ? MachineName() : userId;
}

// "HELO name", or the bare word when there is no name at all.
std::string HeloCommand(const std::string& userId)
{
    const std::string name = HeloName(userId);
    return (name.empty() ? std::string("HELO") : "HELO " + name) + "\r\n";
}

// A LOGIN argument: as it is when plain, else an IMAP quoted string.
std::string ImapArgument(const std::string& value)
{
    if (value.find_first_of(" ()\"\\{%*") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\')
            quoted.push_back('\\');
        quoted.push_back(c);
    }
    return quoted + "\"";
}
} // namespace

// Mailbox login and logout. Commands end in a bare line feed; replies are read
// up to the carriage return, whose line feed the next read trims away.
void ProbeSocket::ProbePop3(const std::string& host, int port, const std::string& userId,
                            const std::string& password, const std::string& /*domain*/)
{
    const std::array steps{
        Step{"", "+OK", '\n'},
        Step{"user " + userId + "\n", "+OK", '\r'},
        Step{"pass " + password + "\n", "+OK", '\r'},
        Step{"QUIT\n", {}},
    };
    ProbeConversation::Run(*this, host, port, steps);
}

// Tagged login, then both closing commands without waiting for an answer.
// Plain user ids and passwords go out as they are, others quoted.
void ProbeSocket::ProbeImap4(const std::string& host, int port, const std::string& userId,
                             const std::string& password, const std::string& /*domain*/)
{
    const std::array steps{
        Step{"", "* OK", '\n'},
        Step{"a001 login " + ImapArgument(userId) + " " + ImapArgument(password) + "\r\n", "a001 OK", '\r'},
        Step{"a001 QUIT\r\n", {}},
        Step{"a001 LOGOUT\r\n", {}},
    };
    ProbeConversation::Run(*this, host, port, steps);
}

// The envelope of a message without its data: HELO, MAIL, RCPT, RSET, QUIT,
// each reply read whole. MAIL, RCPT, RSET and QUIT carry a blank before the
// line end.
void ProbeSocket::ProbeSmtp(const std::string& host, int port, const std::string& userId,
                            const std::string& /*password*/, const std::string& domain)
{
    const std::string address = Envelope(userId, domain);
    const std::array steps{
        Step{"", "220"},
        Step{HeloCommand(userId), "250"},
        Step{"MAIL FROM: " + address + " \r\n", "250"},
        Step{"RCPT TO: " + address + " \r\n", "250"},
        Step{"RSET \r\n", "250"},
        Step{"QUIT \r\n", "221"},
    };
    ProbeConversation::Run(*this, host, port, steps, ProbeConversation::Replies::Whole);
}

// As SMTP with EHLO and no RSET; the reply to QUIT may be 221 or 250.
void ProbeSocket::ProbeEsmtp(const std::string& host, int port, const std::string& userId,
                             const std::string& /*password*/, const std::string& domain)
{
    const std::string address = Envelope(userId, domain);
    const std::array steps{
        Step{"", "220"},
        Step{"EHLO " + HeloName(userId) + "\r\n", "250"},
        Step{"MAIL FROM: " + address + " \r\n", "250"},
        Step{"RCPT TO: " + address + " \r\n", "250"},
        Step{"QUIT \r\n", "221", '\n', "250"},
    };
    ProbeConversation::Run(*this, host, port, steps, ProbeConversation::Replies::Whole);
}

} // namespace qm
