#include "probes/ProbeSocket.h"

#include "platform/SocketErrors.h"
#include "platform/ThreadId.h"
#include "probes/MessageTemplate.h"
#include "probes/SocketErrorText.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm {

namespace {
constexpr std::size_t kRxChunk = 4096;

bool IsTrimmed(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// First IPv4 address of a name through the system resolver.
bool LookupFirstAddress(const std::string& host, in_addr& out)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
        return false;
    out = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr;
    ::freeaddrinfo(list);
    return true;
}
} // namespace

std::string TrimText(std::string_view text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && IsTrimmed(text[b]))
        ++b;
    while (e > b && IsTrimmed(text[e - 1]))
        --e;
    return std::string(text.substr(b, e - b));
}

ProbeSocket::ProbeSocket(ResultSink& sink, const Clock& clock)
    : m_sink(sink), m_clock(clock), m_rx(new uint8_t[kRxChunk])
{
}

ProbeSocket::~ProbeSocket()
{
    CloseSocket();
}

void ProbeSocket::adoptSocket(int fd)
{
    CloseSocket();
    m_socket = fd;
}

void ProbeSocket::CloseSocket()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    m_open = false;
    m_rxPos = m_rxLen = 0;
}

bool ResolveIPv4(const std::string& host, in_addr& out)
{
    if (LookupFirstAddress(host, out))
        return true;
    const in_addr_t parsed = ::inet_addr(host.c_str());
    if (parsed == INADDR_NONE)
        return false;
    out.s_addr = parsed;
    return true;
}

namespace {
bool Resolve(const std::string& host, int port, sockaddr_in& addr)
{
    std::memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return ResolveIPv4(host, addr.sin_addr);
}
} // namespace

int ProbeSocket::ResolveAddress(const std::string& host, int port, sockaddr_in& addr)
{
    if (Resolve(host, port, addr))
        return 0;
    ReportFailure(FormatTemplate("Can't resolve %1!s!", {host}));
    return 1;
}

bool ProbeSocket::ConnectStream(const std::string& host, int port, Failures failures)
{
    const bool report = failures == Failures::Report;
    sockaddr_in addr;
    if (report ? ResolveAddress(host, port, addr) != 0 : !Resolve(host, port, addr))
        return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        if (report)
            ReportFailure(FormatTemplate("Connect Failed %1!s!", {SocketErrorText(LastSocketError())}));
        return false;
    }
    adoptSocket(fd);

    int error = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int rc;
            do
                rc = ::poll(&p, 1, kConnectTimeoutMs);
            while (rc < 0 && errno == EINTR);
            if (rc == 0) {
                error = ETIMEDOUT;
            } else if (rc < 0) {
                error = errno;
            } else {
                socklen_t len = sizeof(error);
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
            }
        }
    }
    if (error != 0) {
        if (report)
            ReportFailure(FormatTemplate("Connect Failed %1!s!", {SocketErrorText(WinsockErrorFromErrno(error))}));
        CloseSocket();
        return false;
    }
    // Back to blocking; sends are bounded by a socket time-out, reads by poll.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    timeval tv{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    return true;
}

int ProbeSocket::SendText(std::string_view text)
{
    const ssize_t n = ::send(m_socket, text.data(), text.size(), MSG_NOSIGNAL);
    if (n < 0) {
        const int code = (errno == EAGAIN || errno == EWOULDBLOCK) ? int(WsaETimedOut) : LastSocketError();
        if (code == WsaETimedOut)
            ReportFailure("Timed out");
        else
            ReportFailure(FormatTemplate("Sendto failed: %1!s!", {SocketErrorText(code)}));
        return 0;
    }
    return static_cast<int>(n);
}

int ProbeSocket::ReadByte(int timeoutMs)
{
    if (m_rxPos < m_rxLen)
        return m_rx[m_rxPos++];
    if (m_socket < 0) {
        m_lastError = WsaENotSock;
        return kReadFailed;
    }
    pollfd p{m_socket, POLLIN, 0};
    int rc;
    do
        rc = ::poll(&p, 1, timeoutMs);
    while (rc < 0 && errno == EINTR);
    if (rc == 0) {
        m_lastError = WsaETimedOut;
        return kReadTimedOut;
    }
    ssize_t n;
    do
        n = ::recv(m_socket, m_rx.get(), kRxChunk, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n == 0)
        return kPeerClosed;
    if (n < 0) {
        m_lastError = (errno == EAGAIN || errno == EWOULDBLOCK) ? int(WsaETimedOut) : LastSocketError();
        return m_lastError == WsaETimedOut ? kReadTimedOut : kReadFailed;
    }
    m_rxLen = static_cast<std::size_t>(n);
    m_rxPos = 1;
    return m_rx[0];
}

std::string ProbeSocket::ReceiveText(char stopByte)
{
    return ReceiveText(ReadOptions{stopByte, kReceiveTimeoutMs, false});
}

std::string ProbeSocket::ReceiveText(const ReadOptions& options)
{
    const uint32_t start = m_clock.tick();
    std::string line;
    std::size_t count = 0;
    while (count < kMaxReplyBytes) {
        int wait = options.idleTimeoutMs;
        bool lastWait = false;
        if (options.totalLimitMs > 0) {
            const int64_t left = int64_t(options.totalLimitMs) - int64_t(m_clock.tick() - start);
            if (left <= 0 && options.keepTextAtLimit)
                break;
            if (left <= wait) {
                wait = left > 0 ? static_cast<int>(left) : 0;
                lastWait = true;
            }
        }
        const int b = wait > 0 || !lastWait ? ReadByte(wait) : int(kReadTimedOut);
        if (b == kPeerClosed)
            break;
        if (b == kReadTimedOut && ((lastWait && options.keepTextAtLimit)
                                   || (options.keepPartialOnTimeout && !line.empty())))
            break;
        if (b < 0) {
            if (b == kReadTimedOut)
                ReportFailure("Timed out");
            else
                ReportFailure(FormatTemplate("Recvfrom failed: %1!s!", {SocketErrorText(m_lastError)}));
            return {};
        }
        ++count;
        if (options.stopByte != 0 && static_cast<char>(b) == options.stopByte)
            break;
        line.push_back(static_cast<char>(b));
    }
    return TrimText(line);
}

std::string ProbeSocket::LookupAddressText(const std::string& host)
{
    in_addr addr;
    if (!LookupFirstAddress(host, addr)) {
        ReportFailure(FormatTemplate("Can't resolve %1!s!", {host}));
        return {};
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr, text, sizeof(text));
    return text;
}

std::string ProbeSocket::LookupHostName(const std::string& address)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = ::inet_addr(address.c_str());
    char name[NI_MAXHOST] = {};
    if (sa.sin_addr.s_addr == INADDR_NONE
        || ::getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof(sa), name, sizeof(name), nullptr, 0,
                         NI_NAMEREQD) != 0) {
        ReportFailure(FormatTemplate("Can't resolve %1!s!", {address}));
        return {};
    }
    return name;
}

void ProbeSocket::ReportSuccess(std::unique_ptr<ProbeResult> result)
{
    m_sink.reportSuccess(CurrentThreadId(), std::move(result));
}

void ProbeSocket::ReportFailure(std::unique_ptr<ProbeResult> result)
{
    m_sink.reportFailure(CurrentThreadId(), std::move(result));
}

void ProbeSocket::ReportSuccess(std::string message, uint32_t responseTime)
{
    auto result = std::make_unique<ProbeResult>();
    result->message = std::move(message);
    result->responseTime = responseTime;
    ReportSuccess(std::move(result));
}

void ProbeSocket::ReportFailure(std::string message)
{
    auto result = std::make_unique<ProbeResult>();
    result->message = std::move(message);
    ReportFailure(std::move(result));
}

} // namespace qm
