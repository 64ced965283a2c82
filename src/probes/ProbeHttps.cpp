#include "probes/ProbeSocket.h"

#include "probes/HttpVerdict.h"
#include "probes/TlsStream.h"

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
    TlsStream tls(socketHandle());
    if (!tls.handshake(host, kHandshakeBound) ||
        !tls.send(HttpHeadRequest(host, userId, password), kSendBound)) {
        CloseSocket();
        ReportFailure(tls.error());
        return;
    }
    const uint32_t start = clock().tick();
    std::string response;
    const bool read = tls.receiveAll(response, kMaxReplyBytes, kReadIdleBound);
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
