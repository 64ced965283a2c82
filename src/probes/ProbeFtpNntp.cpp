#include "probes/ProbeConversation.h"
#include "probes/ProbeSocket.h"

#include <array>

namespace qm {

namespace {
using Step = ProbeConversation::Step;
} // namespace

// Control-connection login and quit; no data connection is opened. Empty
// fields are sent empty.
void ProbeSocket::ProbeFtp(const std::string& host, int port, const std::string& userId,
                           const std::string& password)
{
    const std::array steps{
        Step{"", "220"},
        Step{"USER " + userId + "\r\n", "331"},
        Step{"PASS " + password + "\r\n", "230"},
        Step{"quit\n", {}},
    };
    ProbeConversation::Run(*this, host, port, steps);
}

// Greeting and quit; the credentials of the host are not used.
void ProbeSocket::ProbeNntp(const std::string& host, int port, const std::string& /*userId*/,
                            const std::string& /*password*/, const std::string& /*domain*/)
{
    const std::array steps{
        Step{"", "200"},
        Step{"a001 QUIT\n", {}},
    };
    ProbeConversation::Run(*this, host, port, steps);
}

} // namespace qm
