#pragma once

#include <cstddef>

namespace qm {

// Every network wait of the stream probes is bounded by these.
inline constexpr int kConnectTimeoutMs = 10000; // a connect that takes longer fails with 10060
inline constexpr int kReceiveTimeoutMs = 10000; // a receive idle this long is "Timed out"
inline constexpr int kSendTimeoutMs = 10000;    // a send that cannot proceed this long is "Timed out"
inline constexpr std::size_t kMaxReplyBytes = 65536; // longest text one read returns

// The ICMP echo wait.
inline constexpr int kEchoTimeoutMs = 500;

} // namespace qm
