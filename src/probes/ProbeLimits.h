#pragma once

#include <cstddef>

namespace qm {

// Every network wait of the stream probes is bounded by these.
inline constexpr int kConnectTimeoutMs = 10000; // a connect that takes longer fails with 10060
inline constexpr int kReceiveTimeoutMs = 10000; // a receive idle this long is "Timed out"
inline constexpr int kSendTimeoutMs = 10000;    // a send that cannot proceed this long is "Timed out"
inline constexpr int kReplyLimitMs = 30000;     // one reply read as a whole, however it trickles
inline constexpr int kExchangeLimitMs = 45000;  // one probe from its connect to its last read
inline constexpr std::size_t kMaxReplyBytes = 65536; // longest text one read returns

// The ICMP echo wait.
inline constexpr int kEchoTimeoutMs = 500;

// The bounds a probe object applies; tests shorten them.
struct ProbeLimits
{
    int connectMs = kConnectTimeoutMs;
    // Default bound of one whole reply read (ReadOptions can name another).
    int replyMs = kReplyLimitMs;
    // Bound of everything after the connect began: no wait of the attempt
    // goes past it, so a probe never holds its worker much longer.
    int exchangeMs = kExchangeLimitMs;
};

} // namespace qm
