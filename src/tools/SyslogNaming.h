#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

struct ProbeResult;

// The names a syslog record is shown with, and whether it counts as a success
// (severities 5 to 7) or a failure (0 to 4).
struct SyslogNaming
{
    std::string severityName;
    std::string facilityName;
    bool success = false;
};

// Names a facility value (priority AND 0x78) and a severity (priority AND 7).
// Severity 3 of facility value 56 is the "CISCO ASYNC" / "3_NORMAL" success.
SyslogNaming NameSyslogRecord(uint32_t facility, uint32_t severity);

// Splits one datagram text: PRI is the number between the first "<" and the
// first ">", the message everything after that ">". Fills message, facility,
// severity and sourceAddress (the sender) of the record and returns PRI.
int ParseSyslogDatagram(std::string_view text, const std::string& sender, ProbeResult& record);

} // namespace qm
