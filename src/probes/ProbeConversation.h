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
        // The code the reply must begin with; empty reads no reply.
        std::string_view expected;
        // Where a reply line ends.
        char stopByte = '\n';
        // A second code that is accepted as well (empty: none).
        std::string_view alsoAccepted = {};
        // Steps passed over when the reply carries alsoAccepted, as when a
        // server logs the user in without asking for a password.
        int skipOnAlso = 0;
    };

    // Line: each reply is one line. Whole: each reply is read to its last
    // line, "NNN-" lines continuing it up to the line that begins "NNN" and
    // anything but "-"; that last line stands for the reply.
    enum class Replies { Line, Whole };

    // Runs the steps in order. The first reply that is not accepted is
    // reported as a failure with its line as message. When all are accepted,
    // success carries the first reply read (the greeting) and the span from
    // the connect to the end of the last step: its send when it reads no
    // reply, else the read of its reply. The socket is closed on every path.
    static void Run(ProbeSocket& probe, const std::string& host, int port, std::span<const Step> steps,
                    Replies replies = Replies::Line);

    // True when the reply's first characters equal the expected code exactly
    // (case included); a reply shorter than the code never matches.
    static bool Accepted(std::string_view reply, std::string_view expected);

    // One whole reply, within the probe's reply bound: its last line,
    // trimmed. Empty after a reported failure or when the peer closed before
    // the reply ended.
    static std::string ReadWholeReply(ProbeSocket& probe, char stopByte);
};

} // namespace qm
