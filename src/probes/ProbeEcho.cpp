#include "probes/ProbeSocket.h"

#include "platform/IcmpSocket.h"
#include "platform/SocketErrors.h"
#include "platform/ThreadId.h"
#include "probes/EchoPacket.h"
#include "probes/MessageTemplate.h"
#include "probes/SocketErrorText.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <netdb.h>
#include <sys/socket.h>

namespace qm {

ProbeSocket::EchoVerdict ProbeSocket::CheckEchoReply(const uint8_t* bytes, std::size_t count,
                                                     const sockaddr_in& sender)
{
    const std::size_t headerLength = count > 0 ? (bytes[0] & 0x0F) * 4u : 0u;
    if (count == 0 || count < headerLength + 8) {
        char from[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &sender.sin_addr, from, sizeof(from));
        // Built by appending: GCC 12 warns (-Wrestrict) on "x" + std::string&&.
        std::string text(1, '"');
        text += FormatTemplate("Too few bytes from %1!s!", {from});
        text += '"';
        ReportFailure(text);
        return {EchoVerdict::AlreadyReported};
    }
    const uint8_t* icmp = bytes + headerLength;
    const int type = icmp[0];
    if (type == 0) {
        const uint16_t mine = static_cast<uint16_t>(CurrentThreadId() & 0xFFFF);
        if (ReadLe16(icmp + 4) != mine)
            return {EchoVerdict::NotMine};
        // A reply cut short before our timestamp has nothing to measure from:
        // it counts as answered at once rather than reading past its end.
        if (count < headerLength + 12)
            return {EchoVerdict::EchoTime, 0};
        return {EchoVerdict::EchoTime, m_clock.tick() - ReadLe32(icmp + 8)};
    }
    // An echo request is never an answer to us: on Linux a raw socket receives
    // our own request when the local machine is pinged.
    if (type == 8)
        return {EchoVerdict::NotMine};
    ReportFailure(IcmpTypeText(type));
    return {EchoVerdict::AlreadyReported};
}

void ProbeSocket::ProbeEcho(const std::string& host)
{
    const uint16_t identifier = static_cast<uint16_t>(CurrentThreadId() & 0xFFFF);
    IcmpSocket icmp;
    if (!icmp.open(identifier)) {
        ReportFailure(FormatTemplate("WSASocket() failed: %1!s!", {SocketErrorText(icmp.error())}));
        return;
    }
    const timeval tv{0, kEchoTimeoutMs * 1000};
    if (::setsockopt(icmp.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0) {
        ReportFailure(FormatTemplate("Failed to set recv timeout: %1!s!", {SocketErrorText(LastSocketError())}));
        return;
    }
    if (::setsockopt(icmp.fd(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) != 0) {
        ReportFailure(FormatTemplate("Failed to set send timeout: %1!s!", {SocketErrorText(LastSocketError())}));
        return;
    }
    sockaddr_in target;
    if (ResolveAddress(host, 0, target) != 0)
        return;

    std::array<uint8_t, kEchoBufferSize> request{};
    std::array<uint8_t, kEchoBufferSize> reply{};
    BuildEchoRequest(request.data(), kEchoRequestSize, identifier);
    StampEchoRequest(request.data(), kEchoRequestSize, m_sequence++, m_clock.tick());

    const ssize_t sent = ::sendto(icmp.fd(), request.data(), kEchoRequestSize, 0,
                                  reinterpret_cast<sockaddr*>(&target), sizeof(target));
    if (sent < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            ReportFailure("Timed out");
        else
            ReportFailure(FormatTemplate("Sendto failed: %1!s!", {SocketErrorText(LastSocketError())}));
        return;
    }
    if (static_cast<std::size_t>(sent) < kEchoRequestSize) {
        std::string text = "ECHO: Wrote ";
        text += std::to_string(sent);
        text += " bytes";
        ReportFailure(text);
        return;
    }

    const uint32_t waitStart = m_clock.tick();
    for (;;) {
        sockaddr_in from{};
        const ssize_t n = icmp.receive(reply.data(), reply.size(), &from);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                ReportFailure("Timed out");
            else
                ReportFailure(FormatTemplate("Recvfrom failed: %1!s!", {SocketErrorText(LastSocketError())}));
            return;
        }
        const EchoVerdict verdict = CheckEchoReply(reply.data(), static_cast<std::size_t>(n), from);
        // A datagram that CheckEchoReply reported ends the attempt with that
        // one report.
        if (verdict.kind == EchoVerdict::AlreadyReported)
            return;
        // The wait limit is tested before a reply counts: a matching reply
        // that comes too late is a time-out all the same.
        if (m_clock.tick() - waitStart > static_cast<uint32_t>(kEchoTimeoutMs)) {
            ReportFailure("Timed out");
            return;
        }
        if (verdict.kind == EchoVerdict::NotMine)
            continue;
        ReportSuccess("Success", verdict.echoTimeMs);
        return;
    }
}

} // namespace qm
