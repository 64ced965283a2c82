#include "probes/ProbeConversation.h"
#include "probes/ProbeSocket.h"

#include <array>

namespace qm {

namespace {
using Step = ProbeConversation::Step;
} // namespace

// Control-connection login and quit, each reply read whole; no data
// connection is opened. Empty fields are sent empty. A server that logs the
// user in at once (230 to USER) is not asked for the password.
void ProbeSocket::ProbeFtp(const std::string& host, int port, const std::string& userId,
                           const std::string& password)
{
    const std::array steps{
        Step{"", "220"},
        Step{"USER " + userId + "\r\n", "331", '\n', "230", 1},
        Step{"PASS " + password + "\r\n", "230"},
        Step{"quit\n", {}},
    };
    ProbeConversation::Run(*this, host, port, steps, ProbeConversation::Replies::Whole);
}

// Greeting and quit; a server that allows posting (200) and one that does
// not (201) are both up. The credentials of the host are not used.
void ProbeSocket::ProbeNntp(const std::string& host, int port, const std::string& /*userId*/,
                            const std::string& /*password*/, const std::string& /*domain*/)
{
    const std::array steps{
        Step{"", "200", '\n', "201"},
        Step{"a001 QUIT\n", {}},
    };
    ProbeConversation::Run(*this, host, port, steps);
}

} // namespace qm
