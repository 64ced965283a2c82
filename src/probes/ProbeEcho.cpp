#include "probes/ProbeSocket.h"

#include "platform/IcmpSocket.h"
#include "platform/SocketErrors.h"
#include "platform/ThreadId.h"
#include "probes/EchoPacket.h"
#include "probes/MessageTemplate.h"
#include "probes/SocketErrorText.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <sys/socket.h>
#include <sys/stat.h>

namespace qm {

uint16_t EchoIdentifier()
{
    return static_cast<uint16_t>(CurrentThreadId() & 0xFFFF);
}

namespace {
template <typename Channel>
EchoExchange Exchange(Channel& socket, const sockaddr_in& target, uint16_t identifier, uint16_t sequence,
                      const Clock& clock, int replyLimitMs, int receiveWaitMs)
{
    EchoExchange result;
    std::array<uint8_t, kEchoBufferSize> request{};
    std::array<uint8_t, kEchoBufferSize> reply{};
    BuildEchoRequest(request.data(), kEchoRequestSize, identifier);
    StampEchoRequest(request.data(), kEchoRequestSize, sequence, clock.tick());

    const ssize_t sent = ::sendto(socket.fd(), request.data(), kEchoRequestSize, 0,
                                  reinterpret_cast<const sockaddr*>(&target), sizeof(target));
    if (sent < 0) {
        const bool timedOut = errno == EAGAIN || errno == EWOULDBLOCK;
        result.outcome = timedOut ? EchoExchange::SendTimedOut : EchoExchange::SendFailed;
        result.error = LastSocketError();
        return result;
    }
    if (static_cast<std::size_t>(sent) < kEchoRequestSize) {
        result.outcome = EchoExchange::ShortSend;
        result.sent = static_cast<std::size_t>(sent);
        return result;
    }

    // The clock decides verdicts; the wait itself is bounded in real time, so
    // datagrams of other probers cannot stretch it.
    const uint32_t sentAt = clock.tick();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(receiveWaitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        sockaddr_in from{};
        const ssize_t n = socket.receive(reply.data(), reply.size(), &from,
                                         static_cast<int>(std::max<int64_t>(left.count(), 0)));
        if (n < 0) {
            const int error = errno;
            if ((error == EINTR || error == EAGAIN || error == EWOULDBLOCK) && left.count() > 0)
                continue;
            const bool timedOut = error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
            result.outcome = timedOut ? EchoExchange::ReceiveTimedOut : EchoExchange::ReceiveFailed;
            result.error = WinsockErrorFromErrno(error);
            return result;
        }
        result.heard = true;
        result.sender = from;
        EchoReplyCheck check = CheckEchoReply(reply.data(), static_cast<std::size_t>(n), from,
                                              identifier, clock.tick());
        // A datagram to report settles the exchange with that one report.
        if (check.kind == EchoReplyCheck::Failure) {
            result.outcome = EchoExchange::Reported;
            result.failure = std::move(check.failure);
            return result;
        }
        // The limit is tested before a reply counts: a matching reply that
        // comes too late is no answer.
        if (clock.tick() - sentAt > static_cast<uint32_t>(replyLimitMs)) {
            result.outcome = EchoExchange::TooLate;
            return result;
        }
        if (check.kind == EchoReplyCheck::NotMine || check.sequence != sequence)
            continue;
        result.outcome = EchoExchange::Answered;
        result.echoTimeMs = check.echoTimeMs;
        return result;
    }
}
} // namespace

EchoExchange ExchangeEcho(IcmpSocket& socket, const sockaddr_in& target, uint16_t identifier,
                          uint16_t sequence, const Clock& clock, int replyLimitMs, int receiveWaitMs)
{
    return Exchange(socket, target, identifier, sequence, clock, replyLimitMs, receiveWaitMs);
}

namespace {
// Without the rights for the shared raw socket, each thread keeps one echo
// socket of its own for its life. Opening one per echo costs
// four system calls, and while raw sockets come and go by the thousand per
// second the kernel's delivery to raw sockets can pass one by: the reply is on
// the wire, the prober waits in vain. Late replies of earlier exchanges that
// wait in the socket are told apart by their sequence number. A thread that
// moves to another network namespace gets a new socket there.
class ThreadEchoSocket
{
public:
    // The open socket, or null with the failure text set.
    IcmpSocket* get(uint16_t identifier, std::string& failure)
    {
        struct stat ns{};
        const ino_t space = ::stat("/proc/thread-self/ns/net", &ns) == 0 ? ns.st_ino : 0;
        if (m_socket.isOpen() && m_identifier == identifier && m_space == space)
            return &m_socket;
        m_socket.close();
        if (!m_socket.open(identifier)) {
            failure = FormatTemplate("WSASocket() failed: %1!s!", {SocketErrorText(m_socket.error())});
            return nullptr;
        }
        const timeval tv{0, kEchoTimeoutMs * 1000};
        if (::setsockopt(m_socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0) {
            failure = FormatTemplate("Failed to set recv timeout: %1!s!", {SocketErrorText(LastSocketError())});
            m_socket.close();
            return nullptr;
        }
        if (::setsockopt(m_socket.fd(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) != 0) {
            failure = FormatTemplate("Failed to set send timeout: %1!s!", {SocketErrorText(LastSocketError())});
            m_socket.close();
            return nullptr;
        }
        m_identifier = identifier;
        m_space = space;
        return &m_socket;
    }

private:
    IcmpSocket m_socket;
    uint16_t m_identifier = 0;
    ino_t m_space = 0;
};
} // namespace

void ProbeSocket::ProbeEcho(const std::string& host)
{
    const uint16_t identifier = EchoIdentifier();
    SharedIcmpChannel* shared = SharedIcmpChannel::forThisThread(identifier);
    IcmpSocket* own = nullptr;
    if (shared == nullptr) {
        thread_local ThreadEchoSocket echoSocket;
        std::string failure;
        own = echoSocket.get(identifier, failure);
        if (own == nullptr) {
            ReportFailure(failure);
            return;
        }
    }
    sockaddr_in target;
    if (ResolveAddress(host, 0, target) != 0)
        return;

    const uint16_t sequence = NextEchoSequence();
    const EchoExchange echo =
        shared ? Exchange(*shared, target, identifier, sequence, m_clock, kEchoTimeoutMs, kEchoTimeoutMs)
               : Exchange(*own, target, identifier, sequence, m_clock, kEchoTimeoutMs, kEchoTimeoutMs);
    switch (echo.outcome) {
    case EchoExchange::Answered:
        ReportSuccess("Success", echo.echoTimeMs);
        return;
    case EchoExchange::Reported:
        ReportFailure(echo.failure);
        return;
    case EchoExchange::SendFailed:
        ReportFailure(FormatTemplate("Sendto failed: %1!s!", {SocketErrorText(echo.error)}));
        return;
    case EchoExchange::ReceiveFailed:
        ReportFailure(FormatTemplate("Recvfrom failed: %1!s!", {SocketErrorText(echo.error)}));
        return;
    case EchoExchange::ShortSend: {
        std::string text = "ECHO: Wrote ";
        text += std::to_string(echo.sent);
        text += " bytes";
        ReportFailure(text);
        return;
    }
    case EchoExchange::SendTimedOut:
    case EchoExchange::TooLate:
    case EchoExchange::ReceiveTimedOut:
        ReportFailure("Timed out");
        return;
    }
}

} // namespace qm
