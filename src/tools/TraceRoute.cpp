#include "tools/TraceRoute.h"

#include "platform/IcmpSocket.h"
#include "platform/OperatorPrompt.h"
#include "platform/ThreadId.h"
#include "probes/EchoPacket.h"
#include "probes/ProbeSocket.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/errqueue.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace qm {

namespace {

// Echo sequence numbers of trace probes, one counter per tracing thread.
thread_local uint16_t t_sequence = 0;

constexpr std::size_t kSeparatorWidth = 59;
constexpr std::size_t kIpHeaderSize = 20;

uint16_t ThreadIdentifier()
{
    return static_cast<uint16_t>(CurrentThreadId() & 0xFFFF);
}

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

// A datagram ICMP socket gets the ICMP errors about its requests (Time
// Exceeded from a router) on its error queue, not as datagrams. Rebuilds such
// an error as the datagram a raw socket would have received: an IPv4 header,
// then type and code; the sender is the router that sent it.
ssize_t ReceiveQueuedError(int fd, uint8_t* buf, std::size_t cap, sockaddr_in* from)
{
    uint8_t payload[kEchoBufferSize];
    alignas(cmsghdr) char control[512];
    iovec iov{payload, sizeof(payload)};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    if (::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
        return -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
            continue;
        sock_extended_err error;
        std::memcpy(&error, CMSG_DATA(c), sizeof(error));
        if (error.ee_origin != SO_EE_ORIGIN_ICMP || cap < kIpHeaderSize + 8)
            continue;
        sockaddr_in offender;
        std::memcpy(&offender, CMSG_DATA(c) + sizeof(sock_extended_err), sizeof(offender));
        *from = offender;
        std::memset(buf, 0, kIpHeaderSize + 8);
        buf[0] = 0x45;
        buf[9] = IPPROTO_ICMP;
        buf[kIpHeaderSize] = error.ee_type;
        buf[kIpHeaderSize + 1] = error.ee_code;
        return static_cast<ssize_t>(kIpHeaderSize + 8);
    }
    errno = EAGAIN;
    return -1;
}

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
    const uint16_t identifier = ThreadIdentifier();
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
    const int on = 1;
    if (!icmp.isRaw() && ::setsockopt(icmp.fd(), SOL_IP, IP_RECVERR, &on, sizeof(on)) != 0)
        return kHopNoEchoReply;

    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (!ResolveTarget(target, host, to.sin_addr))
        return kHopNoEchoReply;

    std::array<uint8_t, kEchoBufferSize> request{};
    std::array<uint8_t, kEchoBufferSize> reply{};
    BuildEchoRequest(request.data(), kEchoRequestSize, identifier);
    StampEchoRequest(request.data(), kEchoRequestSize, t_sequence++, probe.clock().tick());
    const ssize_t sent = ::sendto(icmp.fd(), request.data(), kEchoRequestSize, 0,
                                  reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    if (sent < static_cast<ssize_t>(kEchoRequestSize))
        return kHopNoEchoReply;
    const uint32_t sentAt = probe.clock().tick();

    for (;;) {
        sockaddr_in from{};
        ssize_t n = icmp.receive(reply.data(), reply.size(), &from);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && !icmp.isRaw() && errno != EAGAIN && errno != EWOULDBLOCK)
            n = ReceiveQueuedError(icmp.fd(), reply.data(), reply.size(), &from);
        if (n < 0)
            return kHopReceiveFailed;
        target = DottedAddress(from.sin_addr);
        const ProbeSocket::EchoVerdict verdict =
            probe.CheckEchoReply(reply.data(), static_cast<std::size_t>(n), from);
        if (probe.clock().tick() - sentAt > static_cast<uint32_t>(kTraceReplyLimitMs))
            return kHopNoEchoReply;
        if (verdict.kind == ProbeSocket::EchoVerdict::NotMine)
            continue;
        if (verdict.kind == ProbeSocket::EchoVerdict::EchoTime)
            return static_cast<int>(verdict.echoTimeMs);
        return kHopNoEchoReply;
    }
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
