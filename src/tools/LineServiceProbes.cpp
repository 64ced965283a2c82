#include "tools/ServiceProbes.h"

#include "platform/SocketErrors.h"
#include "probes/MessageTemplate.h"
#include "probes/ProbeSocket.h"
#include "probes/SocketErrorText.h"

#include <algorithm>

#ifndef QUILLMERE_WHOIS_DOMAIN
#error "QUILLMERE_WHOIS_DOMAIN must be set by the build"
#endif

namespace qm {

namespace {
constexpr std::size_t kWhoisMessageLength = 255;
// The probe object's default whole-read bound is the services' one.
static_assert(kServiceReadLimitMs == kReplyLimitMs);
} // namespace

std::string DefaultWhoisDomain()
{
    return QUILLMERE_WHOIS_DOMAIN;
}

std::string ReadServiceText(ProbeSocket& probe, char stopByte, int receiveTimeoutMs)
{
    ProbeSocket::ReadOptions options;
    options.stopByte = stopByte;
    options.idleTimeoutMs = receiveTimeoutMs;
    return probe.ReceiveText(options);
}

namespace {
// After a read that failed or found the server silent the empty text still
// counts as the server's answer; a read cut off partway (at the whole-read
// bound, or silent after some bytes) does not: that server is failing.
bool Answered(const ProbeSocket& probe)
{
    const ProbeSocket::ReadEnd end = probe.lastReadEnd();
    return end != ProbeSocket::ReadEnd::OverLimit && end != ProbeSocket::ReadEnd::Stalled;
}
} // namespace

void ProbeLineService(ProbeSocket& probe, const std::string& host, int port, char stopByte,
                      int receiveTimeoutMs)
{
    if (!probe.ConnectStream(host, port))
        return;
    const uint32_t start = probe.clock().tick();
    std::string text = ReadServiceText(probe, stopByte, receiveTimeoutMs);
    const uint32_t end = probe.clock().tick();
    probe.CloseSocket();
    if (Answered(probe))
        probe.ReportSuccess(std::move(text), end - start);
}

void ProbeDaytime(ProbeSocket& probe, const std::string& host, int port)
{
    ProbeLineService(probe, host, port, '\n', kServiceDataWaitMs);
}

void ProbeQuoteOfTheDay(ProbeSocket& probe, const std::string& host, int port)
{
    ProbeLineService(probe, host, port, 0, kServiceReceiveTimeoutMs);
}

void ProbeChargen(ProbeSocket& probe, const std::string& host, int port)
{
    ProbeLineService(probe, host, port, '\n', kServiceReceiveTimeoutMs);
}

void ProbeWhoisPlusPlus(ProbeSocket& probe, const std::string& host, int port)
{
    ProbeLineService(probe, host, port, '\n', kServiceReceiveTimeoutMs);
}

void ProbeRwhois(ProbeSocket& probe, const std::string& host, int port)
{
    ProbeLineService(probe, host, port, '\n', kServiceReceiveTimeoutMs);
}

void ProbeWhois(ProbeSocket& probe, const std::string& host, int port)
{
    if (!probe.ConnectStream(host, port))
        return;
    const uint32_t start = probe.clock().tick();
    probe.SendText("domain " + DefaultWhoisDomain() + "\r\n");
    std::string reply = ReadServiceText(probe, 0, kServiceReceiveTimeoutMs);
    const uint32_t end = probe.clock().tick();
    probe.CloseSocket();
    reply.resize(std::min(reply.size(), kWhoisMessageLength));
    if (Answered(probe))
        probe.ReportSuccess(std::move(reply), end - start);
}

} // namespace qm
