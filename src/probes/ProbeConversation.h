#pragma once

#include "probes/ProbeSocket.h"

#include <span>
#include <string>
#include <string_view>

namespace qm {

// The line dialogue shared by the mail, news and file transfer probes:
// connect, take the start tick, walk the steps, take the end tick, close and
// report. A probe is a table of steps handed to Run.
class ProbeConversation
{
public:
    struct Step
    {
        // Sent as is before the reply is read; empty sends nothing (greeting).
        std::string command;
        // The code the reply line must begin with; empty reads no reply.
        std::string_view expected;
        // Where the reply line ends.
        char stopByte = '\n';
    };

    // Runs the steps in order. The first reply that is not accepted is
    // reported as a failure with that line as message. When all are accepted,
    // success carries the first reply read (the greeting) and the span from
    // the connect to the end of the last step: its send when it reads no
    // reply, else the read of its reply. The socket is closed on every path.
    static void Run(ProbeSocket& probe, const std::string& host, int port,
                    std::span<const Step> steps);

    // True when the reply's first characters equal the expected code exactly
    // (case included); a reply shorter than the code never matches.
    static bool Accepted(std::string_view reply, std::string_view expected);
};

} // namespace qm
