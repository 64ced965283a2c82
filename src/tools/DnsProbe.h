#pragma once

#include "tools/DnsMessage.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

class OperatorPrompt;
class ProbeSocket;

// The wait for one reply, and for both queries of a probe together.
inline constexpr int kDnsReceiveTimeoutMs = 10000;

// Outcomes of DnsQuery below 1 (1 and more: the bytes received).
inline constexpr int kDnsNoReply = 0;             // timed out (reported) or an empty datagram
inline constexpr int kDnsServerUnresolved = -2;   // "Can't resolve" reported
inline constexpr int kDnsSocketFailed = -3;       // reported
inline constexpr int kDnsSendFailed = -4;         // option or send failed, reported
inline constexpr int kDnsReceiveFailed = -5;      // reported

using DnsReply = std::array<uint8_t, kDnsBufferSize>;

// The name asked for when the settings name none, fixed at build time.
std::string DefaultDnsQueryName();

// The name an entry's probe asks for: the entry's domain field when it is set
// and is not an e-mail domain (one with "@"), else the configured name, else
// DefaultDnsQueryName().
std::string DnsQueryNameFor(const std::string& entryDomain, const std::string& configuredName);

// True when the text holds no letter (dots are not tested); "" counts.
bool IsNumericAddress(std::string_view text);

// Sends one query (ID from the calling thread, only RD set, one question of
// the given type, class IN: 18 + n bytes for a name of n characters; a
// trailing dot is not encoded) over UDP to server:port and receives the first
// datagram that arrives, within waitMs, into `reply`. Returns the bytes
// received or an outcome above; every failure has been reported through the
// probe's sink.
int DNS_Query(ProbeSocket& probe, const std::string& queryName, const std::string& server, int port,
              int queryType, DnsReply& reply, int waitMs = kDnsReceiveTimeoutMs);

// Tests the name server host:port by asking it for the address records of
// queryName (empty: DefaultDnsQueryName()), and for its mail exchangers when
// the address answer is empty. A numeric query name shorter than 242
// characters is asked in reverse, read as inet_addr reads it (a.b.c.d as
// d.c.b.a.IN-ADDR.ARPA, type PTR; "10.1.2" as 2.0.1.10.IN-ADDR.ARPA; a text
// that is no address as 255.255.255.255.IN-ADDR.ARPA). A longer one is told
// to the prompt, when given, as "DNS: Invalid address" and then asked for
// unchanged, type A. Both queries together wait at most kDnsReceiveTimeoutMs.
// Reports one success with the records as text, or failures; the texts quote
// the query name as given, and a failure after a reply adds the reply's cause
// in parentheses.
void ProbeDns(ProbeSocket& probe, const std::string& host, int port, const std::string& queryName,
              OperatorPrompt* prompt = nullptr);

} // namespace qm
