// Feeds arbitrary bytes to the syslog datagram parser as if a sender had
// sent them, then names the record as the listener does.
#include "probes/ProbeResult.h"
#include "tools/SyslogNaming.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    qm::ProbeResult record;
    qm::ParseSyslogDatagram(text, "127.0.0.1", record);
    const qm::SyslogNaming naming = qm::NameSyslogRecord(record.facility, record.severity);
    // The message is what follows the priority, never more than was sent.
    if (record.message.size() > size || text.substr(size - record.message.size()) != record.message)
        std::abort();
    if (record.severity > 7 || (record.facility & ~0x78u) != 0 || naming.severityName.empty())
        std::abort();
    return 0;
}
