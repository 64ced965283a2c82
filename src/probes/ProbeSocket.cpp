#include "probes/ProbeSocket.h"

#include "platform/Clock.h"
#include "platform/SocketErrors.h"
#include "platform/ThreadId.h"
#include "probes/MessageTemplate.h"
#include "probes/SocketErrorText.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm {

namespace {
constexpr std::size_t kRxChunk = 4096;
using SteadyClock = std::chrono::steady_clock;

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
    m_inExchange = false;
}

int ProbeSocket::exchangeLeftMs() const
{
    return m_inExchange ? MsUntil(m_exchangeEnd) : INT_MAX;
}

ProbeSocket::Wait ProbeSocket::WaitReady(int fd, short events, int timeoutMs)
{
    const int stopFd = m_cancel ? m_cancel->fd() : -1;
    pollfd p[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    const auto end = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (cancelled())
            return Wait::Cancelled;
        const int rc = ::poll(p, stopFd >= 0 ? 2 : 1, MsUntil(end));
        if (rc > 0)
            return p[0].revents != 0 ? Wait::Ready : Wait::Cancelled;
        if (rc == 0)
            return cancelled() ? Wait::Cancelled : Wait::TimedOut;
        if (errno != EINTR) {
            m_lastError = LastSocketError();
            return Wait::Failed;
        }
    }
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
    if (cancelled())
        return false;
    const bool report = failures == Failures::Report;
    const auto begun = SteadyClock::now();
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
    m_exchangeEnd = begun + std::chrono::milliseconds(m_limits.exchangeMs);
    m_inExchange = true;

    int error = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            switch (WaitReady(fd, POLLOUT, std::min(m_limits.connectMs, exchangeLeftMs()))) {
            case Wait::Ready: {
                socklen_t len = sizeof(error);
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
                break;
            }
            case Wait::TimedOut:
                error = ETIMEDOUT;
                break;
            case Wait::Failed:
                error = errno;
                break;
            case Wait::Cancelled:
                CloseSocket();
                return false;
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
    if (cancelled())
        return kReadCancelled;
    const int exchangeLeft = exchangeLeftMs();
    if (exchangeLeft == 0) {
        m_lastError = WsaETimedOut;
        return kReadTimedOut;
    }
    if (m_rxPos < m_rxLen)
        return m_rx[m_rxPos++];
    if (m_socket < 0) {
        m_lastError = WsaENotSock;
        return kReadFailed;
    }
    switch (WaitReady(m_socket, POLLIN, std::min(timeoutMs, exchangeLeft))) {
    case Wait::Ready:
        break;
    case Wait::TimedOut:
        m_lastError = WsaETimedOut;
        return kReadTimedOut;
    case Wait::Cancelled:
        return kReadCancelled;
    case Wait::Failed:
        return kReadFailed;
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
    ReadOptions options;
    options.stopByte = stopByte;
    return ReceiveText(options);
}

std::string ProbeSocket::ReceiveText(const ReadOptions& options)
{
    const int limit = options.totalLimitMs == ReadOptions::kProbeReplyLimit ? m_limits.replyMs : options.totalLimitMs;
    const auto end = SteadyClock::now() + std::chrono::milliseconds(limit);
    std::string line;
    std::size_t count = 0;
    m_lastReadEnd = ReadEnd::Complete;
    while (count < kMaxReplyBytes) {
        // The nearest of the idle wait, the read's bound and the exchange's.
        const int bound = std::min(limit > 0 ? MsUntil(end) : INT_MAX, exchangeLeftMs());
        const bool idle = options.idleTimeoutMs < bound;
        if (bound > 0 && m_rxPos < m_rxLen && !cancelled()) {
            // The bytes already received go in one piece, up to the stop byte:
            // the same bytes as one by one, without a clock reading each.
            const uint8_t* from = m_rx.get() + m_rxPos;
            const std::size_t avail = std::min(m_rxLen - m_rxPos, kMaxReplyBytes - count);
            const void* stop = options.stopByte != 0
                                   ? std::memchr(from, static_cast<unsigned char>(options.stopByte), avail)
                                   : nullptr;
            const std::size_t take = stop ? static_cast<std::size_t>(static_cast<const uint8_t*>(stop) - from) : avail;
            line.append(reinterpret_cast<const char*>(from), take);
            m_rxPos += take;
            count += take;
            if (stop) {
                ++m_rxPos;
                ++count;
                break;
            }
            continue;
        }
        const int b = bound == 0 ? int(kReadTimedOut) : ReadByte(idle ? options.idleTimeoutMs : bound);
        if (b == kPeerClosed) {
            m_lastReadEnd = ReadEnd::PeerClosed;
            break;
        }
        if (b == kReadTimedOut && idle && options.keepPartialOnTimeout && !line.empty())
            break;
        if (b < 0) {
            if (b == kReadCancelled) {
                m_lastReadEnd = ReadEnd::Cancelled;
            } else if (b == kReadTimedOut) {
                m_lastReadEnd = !idle ? ReadEnd::OverLimit : count > 0 ? ReadEnd::Stalled : ReadEnd::IdleTimeout;
                ReportFailure("Timed out");
            } else {
                m_lastReadEnd = ReadEnd::Failed;
                ReportFailure(FormatTemplate("Recvfrom failed: %1!s!", {SocketErrorText(m_lastError)}));
            }
            return {};
        }
        ++count;
        if (options.stopByte != 0 && static_cast<char>(b) == options.stopByte)
            break;
        line.push_back(static_cast<char>(b));
    }
    return options.trim ? TrimText(line) : line;
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

// A stopped probe reports nothing: its worker is ending and its row says so.
void ProbeSocket::ReportSuccess(std::unique_ptr<ProbeResult> result)
{
    if (cancelled())
        return;
    m_sink.reportSuccess(CurrentThreadId(), std::move(result));
}

void ProbeSocket::ReportFailure(std::unique_ptr<ProbeResult> result)
{
    if (cancelled())
        return;
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

bool IsAddressLiteral(const std::string& host)
{
    unsigned char buf[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buf) == 1 || ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

} // namespace qm
