#include "probes/EchoPacket.h"

#include "probes/MessageTemplate.h"

#include <arpa/inet.h>
#include <cstring>

namespace qm {

namespace {
void WriteLe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}
} // namespace

uint16_t InternetChecksum(const uint8_t* data, std::size_t length)
{
    uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < length; i += 2)
        sum += ReadLe16(data + i);
    if (i < length)
        sum += data[i];
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

void BuildEchoRequest(uint8_t* packet, std::size_t size, uint16_t identifier)
{
    std::memset(packet, 0, size < 12 ? size : 12);
    packet[0] = 8;
    packet[1] = 0;
    WriteLe16(packet + 4, identifier);
    if (size > 12)
        std::memset(packet + 12, 0x45, size - 12);
}

void StampEchoRequest(uint8_t* packet, std::size_t size, uint16_t sequence, uint32_t timestamp)
{
    for (int i = 0; i < 4; ++i)
        packet[8 + i] = static_cast<uint8_t>(timestamp >> (8 * i));
    WriteLe16(packet + 6, sequence);
    WriteLe16(packet + 2, 0);
    WriteLe16(packet + 2, InternetChecksum(packet, size));
}

std::string IcmpTypeText(int type)
{
    switch (type) {
    case 3: return "Destination Unreachable  Network or Host unknown";
    case 4: return "Source Quench  Message too long or arrived too soon";
    case 5: return "Redirect  The host can be reached through a different gateway";
    case 8: return "Echo Request  Requests gateway/host to return sent data";
    case 11: return "Time Exceeded  TTL exceeded  ";
    case 12: return "Parameter Problem  Bad parameter in message header  ";
    case 13: return "Timestamp  Requests gateway/host time in mSec ";
    case 14: return "Timestamp Reply  Gateway/host time in mSec  ";
    case 15: return "Information Request  Request host network number";
    case 16: return "Information Reply  Host network number";
    default: return FormatTemplate("Non-echo type %1!d! packet recvd.", {std::to_string(type)});
    }
}

EchoReplyCheck CheckEchoReply(const uint8_t* bytes, std::size_t count, const sockaddr_in& sender,
                              uint16_t identifier, uint32_t now)
{
    EchoReplyCheck check;
    const std::size_t headerLength = count > 0 ? (bytes[0] & 0x0F) * 4u : 0u;
    if (count == 0 || count < headerLength + 8) {
        char from[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &sender.sin_addr, from, sizeof(from));
        // Built by appending: GCC 12 warns (-Wrestrict) on "x" + std::string&&.
        check.kind = EchoReplyCheck::Failure;
        check.failure.assign(1, '"');
        check.failure += FormatTemplate("Too few bytes from %1!s!", {from});
        check.failure += '"';
        return check;
    }
    const uint8_t* icmp = bytes + headerLength;
    const int type = icmp[0];
    if (type == 0) {
        if (ReadLe16(icmp + 4) != identifier)
            return check;
        check.kind = EchoReplyCheck::EchoTime;
        check.sequence = ReadLe16(icmp + 6);
        // A reply cut short before our timestamp has nothing to measure from:
        // it counts as answered at once rather than reading past its end.
        if (count >= headerLength + 12)
            check.echoTimeMs = now - ReadLe32(icmp + 8);
        return check;
    }
    // An echo request is never an answer to us: a raw socket receives our own
    // request when the local machine is pinged.
    if (type == 8)
        return check;
    check.kind = EchoReplyCheck::Failure;
    check.failure = IcmpTypeText(type);
    return check;
}

} // namespace qm
