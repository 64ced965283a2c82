// Feeds arbitrary bytes as a received ICMP datagram (IP header first, as a
// raw socket delivers it) to the check that the ECHO probe and trace route
// share.
#include "probes/EchoPacket.h"

#include <arpa/inet.h>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sockaddr_in sender{};
    sender.sin_family = AF_INET;
    sender.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // The identifier and clock come from the input's first bytes when there
    // are some, so that matching and non-matching replies are both reached.
    const uint16_t identifier = size >= 2 ? static_cast<uint16_t>(data[0] << 8 | data[1]) : 0;
    (void)qm::CheckEchoReply(data, size, sender, identifier, 1000);
    return 0;
}
