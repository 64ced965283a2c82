#include "tools/TraceRoute.h"

#include "platform/IcmpSocket.h"
#include "platform/OperatorPrompt.h"
#include "probes/EchoPacket.h"
#include "probes/ProbeSocket.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>

namespace qm {

namespace {

constexpr std::size_t kSeparatorWidth = 59;

std::string DottedAddress(const in_addr& address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof(text));
    return text;
}

// The host of one trace, resolved by the first probe that needs it. Every
// later probe whose target text is still the host text sends to the same
// address, and a host that cannot be resolved costs one resolver wait per
// trace rather than two per hop.
struct TraceHost
{
    std::string text;
    bool looked = false;
    bool found = false;
    in_addr address{};
};

bool ResolveTarget(const std::string& target, TraceHost* host, in_addr& out)
{
    if (!host || target != host->text)
        return ResolveIPv4(target, out);
    if (!host->looked) {
        host->found = ResolveIPv4(host->text, host->address);
        host->looked = true;
    }
    out = host->address;
    return host->found;
}

int ProbeHopVia(ProbeSocket& probe, std::string& target, int ttl, OperatorPrompt* prompt,
                TraceHost* host)
{
    const uint16_t identifier = EchoIdentifier();
    IcmpSocket icmp;
    if (!icmp.open(identifier)) {
        if (prompt)
            prompt->inform(OperatorPrompt::Icon::Stop, "m_sock == INVALID_SOCKET");
        return kHopNoEchoReply;
    }
    const timeval wait{kTraceReceiveTimeoutMs / 1000, (kTraceReceiveTimeoutMs % 1000) * 1000};
    if (::setsockopt(icmp.fd(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait)) != 0)
        return kHopNoEchoReply;
    if (::setsockopt(icmp.fd(), IPPROTO_IP, IP_TTL, &ttl, sizeof(ttl)) != 0) {
        if (prompt)
            prompt->inform(OperatorPrompt::Icon::Stop,
                           "setsockopt(m_sock, IPPROTO_IP, IP_TTL,(char*)&iTTL, sizeof(iTTL))\n");
        return kHopNoEchoReply;
    }
    if (::setsockopt(icmp.fd(), SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof(wait)) != 0)
        return kHopNoEchoReply;

    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (!ResolveTarget(target, host, to.sin_addr))
        return kHopNoEchoReply;

    const EchoExchange echo = ExchangeEcho(icmp, to, identifier, probe.NextEchoSequence(), probe.clock(),
                                           kTraceReplyLimitMs, kTraceReceiveTimeoutMs);
    if (echo.heard)
        target = DottedAddress(echo.sender.sin_addr);
    switch (echo.outcome) {
    case EchoExchange::Answered:
        return static_cast<int>(echo.echoTimeMs);
    case EchoExchange::Reported:
        // A router's Time Exceeded is the usual case here.
        probe.ReportFailure(echo.failure);
        return kHopNoEchoReply;
    case EchoExchange::ReceiveTimedOut:
    case EchoExchange::ReceiveFailed:
        return kHopReceiveFailed;
    case EchoExchange::TooLate:
    case EchoExchange::SendTimedOut:
    case EchoExchange::SendFailed:
    case EchoExchange::ShortSend:
        break;
    }
    return kHopNoEchoReply;
}

} // namespace

int ProbeHop(ProbeSocket& probe, std::string& target, int ttl, OperatorPrompt* prompt)
{
    return ProbeHopVia(probe, target, ttl, prompt, nullptr);
}

std::string HopTimeText(int result)
{
    if (result <= 10)
        return "<10 msec";
    char text[32];
    std::snprintf(text, sizeof(text), "%.03d msec", result);
    return text;
}

TraceOutcome TraceRoute(ProbeSocket& probe, const std::string& host,
                        const std::function<void(const TraceHop&)>& onHop, OperatorPrompt* prompt,
                        const std::atomic<bool>* cancel)
{
    const auto cancelled = [cancel] { return cancel && cancel->load(); };
    TraceOutcome outcome;
    TraceHost target{host};
    for (int ttl = 1; ttl <= kTraceMaxHops && !cancelled(); ++ttl) {
        TraceHop hop;
        hop.ttl = ttl;
        // Every hop starts from the host text: a probe that receives nothing
        // (no socket, an unknown host, a failed send) leaves it as it is.
        hop.address = host;
        hop.result = ProbeHopVia(probe, hop.address, ttl, prompt, &target);
        if (hop.result == kHopReceiveFailed) {
            hop.error = true;
            hop.address.clear();
            if (onHop)
                onHop(hop);
            break;
        }
        if (cancelled())
            break;
        const std::string name = probe.LookupHostName(hop.address);
        hop.name = name.empty() ? hop.address : name;
        if (cancelled())
            break;
        std::string timed = hop.address;
        hop.timeText = HopTimeText(ProbeHopVia(probe, timed, kTraceTimingTtl, prompt, &target));
        outcome.hops = ttl;
        if (onHop)
            onHop(hop);
        if (hop.result >= 0)
            break; // the target itself answered
    }
    return outcome;
}

std::string TraceRouteReport(ProbeSocket& probe, const std::string& host, OperatorPrompt* prompt)
{
    std::string text = "Tracing Route to [" + host + "]\n" + std::string(kSeparatorWidth, '=') + "\n";
    TraceRoute(
        probe, host,
        [&text](const TraceHop& hop) {
            char ttl[16];
            std::snprintf(ttl, sizeof(ttl), "TTL_%.02d\t", hop.ttl);
            text += ttl;
            text += hop.error ? std::string("ERR\t\t[ERR]\n")
                              : hop.timeText + "\t\t[" + hop.name + "]\n";
        },
        prompt);
    return text;
}

} // namespace qm
