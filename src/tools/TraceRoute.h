#pragma once

#include <atomic>
#include <functional>
#include <string>

namespace qm {

class OperatorPrompt;
class ProbeSocket;

// Limits of a trace: time-to-live 1 to 29, then the round trip of each hop is
// measured again with time-to-live 30.
inline constexpr int kTraceMaxHops = 29;
inline constexpr int kTraceTimingTtl = 30;
inline constexpr int kTraceReceiveTimeoutMs = 1000; // one receive, and one send
inline constexpr int kTraceReplyLimitMs = 500;      // a later reply counts as no reply

// Results of one hop probe besides a round-trip time (0 or more).
inline constexpr int kHopNoEchoReply = -1;    // a router answered, an error, or too late
inline constexpr int kHopReceiveFailed = -5;  // nothing arrived within the receive time-out

// Sends one echo request with the given time-to-live to `target` (a name or a
// dotted address). Returns the round trip of the target's own echo reply, or
// one of the codes above. When any datagram arrived, `target` is replaced by
// the dotted address of its sender (the answering router or the target).
// ICMP messages other than echo replies are reported as failures through the
// probe's sink. The prompt, when given, tells the operator about a socket that
// cannot be opened or configured.
int ProbeHop(ProbeSocket& probe, std::string& target, int ttl, OperatorPrompt* prompt = nullptr);

// "<10 msec" up to 10 ms and for a hop without a time, else "%.03d msec".
std::string HopTimeText(int result);

// One line of a trace.
struct TraceHop
{
    int ttl = 0;
    int result = kHopNoEchoReply; // of the probe with this time-to-live
    bool error = false;           // nothing arrived: the trace ends here
    std::string address;          // dotted address that answered, else the host text
    std::string name;             // reverse name, or the address when it has none
    std::string timeText;         // HopTimeText of the timing probe
};

struct TraceOutcome
{
    int hops = 0; // ttl of the last hop that is not an error
};

// Traces the route to `host`, calling onHop for every hop as soon as it is
// known (the dialog shows hops while the trace runs). Stops after the target
// answered, after an error hop, or after kTraceMaxHops hops. Each hop probe
// starts from the host text, so a hop that receives nothing (no ICMP socket,
// a host that cannot be resolved, a failed send) is listed under the reverse
// name of the host text or, failing that ("Can't resolve" is reported), the
// host text itself. The host is resolved once per trace.
// A set `cancel` flag ends the trace before the next probe or look-up starts:
// a trace stops at most one receive time-out (or one reverse look-up) after
// the flag is set. A hop cut short by it is not reported.
TraceOutcome TraceRoute(ProbeSocket& probe, const std::string& host,
                        const std::function<void(const TraceHop&)>& onHop,
                        OperatorPrompt* prompt = nullptr,
                        const std::atomic<bool>* cancel = nullptr);

// The trace as text: "Tracing Route to [host]", a line of 59 "=", then one
// "TTL_nn\t<time>\t\t[<name>]" line per hop ("TTL_nn\tERR\t\t[ERR]" for a hop
// that did not answer). The prompt is handed to the hop probes.
std::string TraceRouteReport(ProbeSocket& probe, const std::string& host,
                             OperatorPrompt* prompt = nullptr);

} // namespace qm
