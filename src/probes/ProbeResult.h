#pragma once

#include <cstdint>
#include <string>

namespace qm {

// The outcome of one probe attempt (or one syslog record), handed to the main
// thread with a success, failure or syslog event. The receiver owns it.
struct ProbeResult
{
    std::string message;
    uint32_t responseTime = 0; // milliseconds; meaningful on success only
    uint32_t facility = 0;     // syslog only: priority & 0x78
    uint32_t severity = 0;     // syslog only: priority & 7
    std::string sourceAddress; // syslog only: the sender's dotted address
    // A success that needs the operator's attention soon (a certificate close
    // to its end): shown as a warning, counted as a success.
    bool warning = false;
};

} // namespace qm
