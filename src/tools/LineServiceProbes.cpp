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
} // namespace

std::string DefaultWhoisDomain()
{
    return QUILLMERE_WHOIS_DOMAIN;
}

std::string ReadServiceText(ProbeSocket& probe, char stopByte, int receiveTimeoutMs)
{
    const Clock& clock = probe.clock();
    const uint32_t start = clock.tick();
    std::string text;
    for (std::size_t count = 0; count < kMaxReplyBytes; ++count) {
        const int32_t left = kServiceReadLimitMs - static_cast<int32_t>(clock.tick() - start);
        if (left <= 0)
            break;
        const bool lastWait = left <= receiveTimeoutMs;
        const int b = probe.ReadByte(lastWait ? left : receiveTimeoutMs);
        if (b == ProbeSocket::kPeerClosed)
            break;
        if (b == ProbeSocket::kReadTimedOut && lastWait)
            break; // the whole-read limit, not a silent server
        if (b == ProbeSocket::kReadTimedOut) {
            probe.ReportFailure("Timed out");
            return {};
        }
        if (b < 0) {
            probe.ReportFailure(FormatTemplate("Recvfrom failed: %1!s!", {SocketErrorText(probe.lastError())}));
            return {};
        }
        if (stopByte != 0 && static_cast<char>(b) == stopByte)
            break;
        text.push_back(static_cast<char>(b));
    }
    return TrimText(text);
}

void ProbeLineService(ProbeSocket& probe, const std::string& host, int port, char stopByte,
                      int receiveTimeoutMs)
{
    if (!probe.ConnectStream(host, port))
        return;
    const uint32_t start = probe.clock().tick();
    std::string text = ReadServiceText(probe, stopByte, receiveTimeoutMs);
    const uint32_t end = probe.clock().tick();
    probe.CloseSocket();
    // A read that failed has reported why; the empty text still counts as the
    // server's answer.
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
    probe.ReportSuccess(std::move(reply), end - start);
}

void ProbeTftp(ProbeSocket& probe, const std::string&, int)
{
    probe.ReportFailure(FormatTemplate("Sendto failed: %1!s!", {SocketErrorText(LastSocketError())}));
}

} // namespace qm
