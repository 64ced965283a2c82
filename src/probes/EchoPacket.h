#pragma once

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <string>

namespace qm {

class Clock;
class IcmpSocket;

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

// What one received datagram (an IPv4 header, then an ICMP message) means to
// the prober whose requests carry `identifier`, read at tick `now`.
struct EchoReplyCheck
{
    enum Kind {
        EchoTime, // our echo reply: echoTimeMs is now minus its timestamp
        NotMine,  // another prober's reply, or a request: keep waiting
        Failure,  // an ICMP message or a datagram too short: `failure` says so
    } kind = NotMine;
    uint32_t echoTimeMs = 0;
    uint16_t sequence = 0; // of an EchoTime reply
    std::string failure;
};
// Reads only the `count` bytes given, whatever they hold.
EchoReplyCheck CheckEchoReply(const uint8_t* bytes, std::size_t count, const sockaddr_in& sender,
                              uint16_t identifier, uint32_t now);

// The identifier of the calling thread's echo requests.
uint16_t EchoIdentifier();

// One echo exchange, the one the ECHO probe and trace route share: sends a
// request stamped with `sequence` and the clock's tick to `target` over an
// open socket, then classifies what arrives until a datagram settles it or
// `receiveWaitMs` of real time have passed since the send. Our replies to
// other sequence numbers (late answers to earlier exchanges on the same
// socket) are skipped. A datagram that
// arrives more than `replyLimitMs` by the clock after the send settles it as
// TooLate, unless it is an ICMP message to report.
struct EchoExchange
{
    enum Outcome {
        Answered,     // our echo reply within the limit: echoTimeMs
        Reported,     // an ICMP message or a short datagram: `failure` is its text
        TooLate,      // a datagram that is not to be reported, after the limit
        SendTimedOut,
        SendFailed,   // `error` is the Winsock number
        ShortSend,    // `sent` bytes left
        ReceiveTimedOut,
        ReceiveFailed, // `error` is the Winsock number
    } outcome = ReceiveTimedOut;
    uint32_t echoTimeMs = 0;
    std::string failure;
    int error = 0;
    std::size_t sent = 0;
    bool heard = false;    // a datagram arrived; `sender` is the last one's
    sockaddr_in sender{};
};
EchoExchange ExchangeEcho(IcmpSocket& socket, const sockaddr_in& target, uint16_t identifier,
                          uint16_t sequence, const Clock& clock, int replyLimitMs, int receiveWaitMs);

inline uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

} // namespace qm
