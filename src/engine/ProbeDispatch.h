#pragma once

#include <string>

namespace qm {

class OperatorPrompt;
class ProbeSocket;

// What a worker passes to its host's probe; copied from the host's session
// once, when the worker starts.
struct PollArgs
{
    std::string address;
    int port = 0;
    std::string userId;
    std::string password;
    std::string domain;
    std::string dnsQueryName; // the configured DNS query name; the entry's domain goes first
    int certWarnDays = 0;     // an HTTPS success with fewer days left is a warning
    // Tells the operator about settings a probe cannot use; called on the
    // worker's thread, so it must be safe from any thread. May be null.
    OperatorPrompt* prompt = nullptr;
};

// Runs the probe of the protocol: names are compared exactly, in table order,
// and a name that matches none runs nothing. Returns whether a probe ran.
bool RunProbe(ProbeSocket& probe, const std::string& protocol, const PollArgs& args);

} // namespace qm
