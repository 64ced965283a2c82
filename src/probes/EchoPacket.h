#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

inline constexpr std::size_t kEchoRequestSize = 44;
inline constexpr std::size_t kEchoBufferSize = 1024;

// RFC 1071 checksum over little-endian 16-bit words; an odd last byte is added
// as a low byte. Store the result low byte first.
uint16_t InternetChecksum(const uint8_t* data, std::size_t length);

// Type 8, code 0, zero checksum, the identifier (little-endian), sequence 0 and
// 0x45 data bytes from offset 12 to the end.
void BuildEchoRequest(uint8_t* packet, std::size_t size, uint16_t identifier);
// Fills timestamp and sequence, then the checksum over the whole packet.
void StampEchoRequest(uint8_t* packet, std::size_t size, uint16_t sequence, uint32_t timestamp);

// The operator text for an ICMP type other than echo reply.
std::string IcmpTypeText(int type);

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

} // namespace qm
