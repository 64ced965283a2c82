#include "probes/ProbeSocket.h"

#include "probes/HttpVerdict.h"
#include "probes/TlsStream.h"

#include <algorithm>

namespace qm {

namespace {
constexpr std::chrono::milliseconds kHandshakeBound{kReceiveTimeoutMs};
constexpr std::chrono::milliseconds kSendBound{kSendTimeoutMs};
constexpr std::chrono::milliseconds kReadIdleBound{kReceiveTimeoutMs};

std::string DaysLeftText(int days)
{
    return " (certificate valid " + std::to_string(days) +
           (days == 1 ? " more day)" : " more days)");
}
} // namespace

void ProbeSocket::ProbeHttps(const std::string& host, int port, const std::string& userId,
                             const std::string& password, int certWarnDays)
{
    if (!ConnectStream(host, port))
        return;
    // Every wait of the session also ends at a stop and within the exchange bound.
    TlsStream tls(socketHandle(), [this](int fd, short events, std::chrono::milliseconds timeout) {
        const int ms = static_cast<int>(std::min<std::chrono::milliseconds::rep>(timeout.count(), exchangeLeftMs()));
        switch (WaitReady(fd, events, ms)) {
        case Wait::Ready:
            return SocketWait::Ready;
        case Wait::TimedOut:
            return SocketWait::TimedOut;
        case Wait::Cancelled:
            return SocketWait::Cancelled;
        case Wait::Failed:
            break;
        }
        return SocketWait::Failed;
    });
    if (!tls.handshake(host, kHandshakeBound) ||
        !tls.send(HttpHeadRequest(host, userId, password), kSendBound)) {
        CloseSocket();
        ReportFailure(tls.error());
        return;
    }
    const uint32_t start = clock().tick();
    std::string response;
    const bool read = tls.receiveAll(response, kMaxReplyBytes, kReadIdleBound, std::chrono::milliseconds(limits().replyMs));
    const uint32_t end = clock().tick();
    const int daysLeft = tls.certificateDaysLeft();
    tls.close();
    CloseSocket();
    if (!read) {
        ReportFailure(tls.error());
        return;
    }

    const HttpVerdict verdict = JudgeHttpResponse(TrimText(response));
    if (!verdict.answered)
        return;
    if (!verdict.ok) {
        ReportFailure(verdict.message);
        return;
    }
    auto result = std::make_unique<ProbeResult>();
    result->message = verdict.message + DaysLeftText(daysLeft);
    result->responseTime = end - start;
    // Verification has refused an expired certificate already; one that ends
    // soon still answers, with a warning.
    result->warning = daysLeft < certWarnDays;
    ReportSuccess(std::move(result));
}

} // namespace qm
