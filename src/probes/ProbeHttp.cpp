#include "probes/ProbeSocket.h"

#include "probes/Base64.h"
#include "probes/HttpVerdict.h"
#include "probes/MessageTemplate.h"

namespace qm {

namespace {
// HTTP lines end with CR LF: common servers refuse a bare line feed.
constexpr std::string_view kHeadRequest = "HEAD / HTTP/1.1\r\nAccept: text/html\r\nHOST: %1!s!\r\nConnection: close\r\n\r\n";
constexpr std::string_view kHeadRequestAuth = "HEAD / HTTP/1.1\r\nAccept: text/html\r\nHOST: %1!s!\r\n"
                                              "Authorization: Basic %2!s!\r\nConnection: close\r\n\r\n";

int StatusCode(const std::string& statusLine)
{
    const std::size_t http = statusLine.find("HTTP/");
    if (http == std::string::npos)
        return 0;
    const std::size_t start = http + 9;
    if (start >= statusLine.size())
        return 0;
    const std::string field = statusLine.substr(start, 3);
    int code = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            break;
        code = code * 10 + (c - '0');
    }
    return code;
}
} // namespace

std::string HttpHeadRequest(const std::string& host, const std::string& userId, const std::string& password)
{
    // A user id without a password sends no credentials at all.
    return password.empty() ? FormatTemplate(kHeadRequest, {host})
                            : FormatTemplate(kHeadRequestAuth, {host, Base64Encode(userId + ":" + password)});
}

HttpVerdict JudgeHttpResponse(const std::string& response)
{
    HttpVerdict verdict;
    if (response.empty())
        return verdict;
    verdict.answered = true;
    const std::size_t lf = response.find('\n');
    const std::string statusLine = lf == std::string::npos ? std::string() : TrimText(std::string_view(response).substr(0, lf));

    std::string server;
    const std::size_t tag = response.find("Server:");
    if (tag != std::string::npos) {
        const std::size_t from = tag + 7;
        const std::size_t to = response.find('\n', from);
        server = TrimText(std::string_view(response).substr(from, to == std::string::npos ? std::string::npos : to - from));
    }

    verdict.ok = StatusCode(statusLine) == 200;
    verdict.message = verdict.ok ? statusLine + " [" + server + "]" : statusLine;
    return verdict;
}

void ProbeSocket::ProbeHttp(const std::string& host, int port, const std::string& userId,
                            const std::string& password)
{
    if (!ConnectStream(host, port))
        return;
    SendText(HttpHeadRequest(host, userId, password));
    const uint32_t start = clock().tick();
    // A server that keeps the connection open after the headers has answered:
    // judge what it sent once the receive bound expires.
    const std::string response = ReceiveText(ReadOptions{0, kReceiveTimeoutMs, true});
    const uint32_t end = clock().tick();
    CloseSocket();
    EvaluateHttpResponse(response, end - start);
}

void ProbeSocket::EvaluateHttpResponse(const std::string& response, uint32_t elapsedMs)
{
    const HttpVerdict verdict = JudgeHttpResponse(response);
    if (!verdict.answered)
        return;
    if (verdict.ok)
        ReportSuccess(verdict.message, elapsedMs);
    else
        ReportFailure(verdict.message);
}

} // namespace qm
