#include "probes/ProbeConversation.h"
#include "probes/ProbeSocket.h"

#include <array>

namespace qm {

namespace {
using Step = ProbeConversation::Step;

// The SMTP envelope address: user id and e-mail domain joined as they are.
std::string Envelope(const std::string& userId, const std::string& domain)
{
    return userId + domain;
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
// User id and password go out unquoted.
void ProbeSocket::ProbeImap4(const std::string& host, int port, const std::string& userId,
                             const std::string& password, const std::string& /*domain*/)
{
    const std::array steps{
        Step{"", "* OK", '\n'},
        Step{"a001 login " + userId + " " + password + "\r\n", "a001 OK", '\r'},
        Step{"a001 QUIT\r\n", {}},
        Step{"a001 LOGOUT\r\n", {}},
    };
    ProbeConversation::Run(*this, host, port, steps);
}

// The envelope of a message without its data: HELO, MAIL, RCPT, RSET, QUIT.
// MAIL, RCPT, RSET and QUIT carry a blank before the line end.
void ProbeSocket::ProbeSmtp(const std::string& host, int port, const std::string& userId,
                            const std::string& /*password*/, const std::string& domain)
{
    const std::string address = Envelope(userId, domain);
    const std::array steps{
        Step{"", "220"},
        // With no user id the command is the bare word: "HELO" CR LF.
        Step{(userId.empty() ? std::string("HELO") : "HELO " + userId) + "\r\n", "250"},
        Step{"MAIL FROM: " + address + " \r\n", "250"},
        Step{"RCPT TO: " + address + " \r\n", "250"},
        Step{"RSET \r\n", "250"},
        Step{"QUIT \r\n", "221"},
    };
    ProbeConversation::Run(*this, host, port, steps);
}

// As SMTP with EHLO and no RSET. Only one line is read per command, so the
// lines of a multi-line EHLO reply answer MAIL, RCPT and QUIT, and the line
// read after QUIT is expected to carry 250.
void ProbeSocket::ProbeEsmtp(const std::string& host, int port, const std::string& userId,
                             const std::string& /*password*/, const std::string& domain)
{
    const std::string address = Envelope(userId, domain);
    const std::array steps{
        Step{"", "220"},
        Step{"EHLO " + userId + "\r\n", "250"},
        Step{"MAIL FROM: " + address + " \r\n", "250"},
        Step{"RCPT TO: " + address + " \r\n", "250"},
        Step{"QUIT \r\n", "250"},
    };
    ProbeConversation::Run(*this, host, port, steps);
}

} // namespace qm
