#include "probes/TlsStream.h"

#include "platform/SocketErrors.h"
#include "probes/ProbeSocket.h"
#include "probes/SocketErrorText.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

namespace qm {

namespace {
using SteadyClock = std::chrono::steady_clock;

// The client settings and the trust store, shared by every session: reading
// the system's store takes tens of milliseconds. It is read again when
// SSL_CERT_FILE or SSL_CERT_DIR change, and every few minutes so that an
// updated store counts soon.
std::shared_ptr<SSL_CTX> ClientContext()
{
    constexpr auto kReload = std::chrono::minutes(10);
    static std::mutex mutex;
    static std::shared_ptr<SSL_CTX> shared;
    static std::string sharedFor;
    static SteadyClock::time_point made;

    const char* file = std::getenv("SSL_CERT_FILE");
    const char* dir = std::getenv("SSL_CERT_DIR");
    const std::string location = std::string(file ? file : "") + '\n' + (dir ? dir : "");
    std::lock_guard lock(mutex);
    if (shared && sharedFor == location && SteadyClock::now() - made < kReload)
        return shared;
    std::shared_ptr<SSL_CTX> ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!ctx)
        return nullptr;
    SSL_CTX_set_default_verify_paths(ctx.get());
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    // A server that closes without the closing alert has still answered.
    SSL_CTX_set_options(ctx.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    shared = ctx;
    sharedFor = location;
    made = SteadyClock::now();
    return ctx;
}

// The reason of the last queued OpenSSL error, for the operator.
std::string QueuedReason()
{
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : "handshake failed";
}
} // namespace

SocketWait WaitOnSocket(int fd, short events, std::chrono::milliseconds timeout)
{
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (rc > 0)
            return SocketWait::Ready;
        if (rc == 0)
            return SocketWait::TimedOut;
        if (errno != EINTR)
            return SocketWait::Failed;
    }
}

void TlsStream::Free::operator()(ssl_st* ssl) const
{
    SSL_free(ssl);
}

TlsStream::TlsStream(int fd, SocketWaiter waiter)
    : m_fd(fd), m_wait(std::move(waiter)), m_ctx(ClientContext())
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (!m_ctx)
        return;
    m_ssl.reset(SSL_new(m_ctx.get()));
    if (m_ssl && SSL_set_fd(m_ssl.get(), fd) != 1)
        m_ssl.reset();
}

TlsStream::~TlsStream() = default;

short TlsStream::pendingEvents(int rc)
{
    const int saved = errno;
    switch (SSL_get_error(m_ssl.get(), rc)) {
    case SSL_ERROR_WANT_READ:
        return POLLIN;
    case SSL_ERROR_WANT_WRITE:
        return POLLOUT;
    case SSL_ERROR_ZERO_RETURN:
        m_error = "TLS: the server closed the connection";
        return 0;
    case SSL_ERROR_SYSCALL:
        if (saved != 0)
            m_error = "TLS: " + SocketErrorText(WinsockErrorFromErrno(saved));
        else if (ERR_peek_last_error() != 0)
            m_error = "TLS: " + QueuedReason();
        else
            m_error = "TLS: the server closed the connection";
        return 0;
    default:
        m_error = "TLS: " + QueuedReason();
        return 0;
    }
}

bool TlsStream::ready(SocketWait waited)
{
    if (waited == SocketWait::TimedOut)
        m_error = "Timed out";
    else if (waited == SocketWait::Failed)
        m_error = "TLS: " + SocketErrorText(LastSocketError());
    else if (waited == SocketWait::Cancelled)
        m_error.clear();
    return waited == SocketWait::Ready;
}

bool TlsStream::handshake(const std::string& host, std::chrono::milliseconds timeout)
{
    if (!m_ssl) {
        m_error = "TLS: no session could be created";
        return false;
    }
    SSL* ssl = m_ssl.get();
    if (IsAddressLiteral(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, host.c_str());
        SSL_set1_host(ssl, host.c_str());
    }
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int rc = SSL_connect(ssl);
        if (rc == 1)
            return true;
        const short events = pendingEvents(rc);
        if (events == 0) {
            // The certificate check tells the most precise reason.
            const long verify = SSL_get_verify_result(ssl);
            if (verify != X509_V_OK)
                m_error = std::string("TLS: ") + X509_verify_cert_error_string(verify);
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        const SocketWait waited =
            left.count() > 0 ? m_wait(m_fd, events, left) : SocketWait::TimedOut;
        if (!ready(waited))
            return false;
    }
}

bool TlsStream::send(std::string_view text, std::chrono::milliseconds timeout)
{
    std::size_t done = 0;
    while (done < text.size()) {
        ERR_clear_error();
        errno = 0;
        std::size_t written = 0;
        if (SSL_write_ex(m_ssl.get(), text.data() + done, text.size() - done, &written) == 1) {
            done += written;
            continue;
        }
        const short events = pendingEvents(0);
        if (events == 0 || !ready(m_wait(m_fd, events, timeout)))
            return false;
    }
    return true;
}

bool TlsStream::receiveAll(std::string& out, std::size_t maxBytes,
                           std::chrono::milliseconds idleTimeout, std::chrono::milliseconds totalTimeout)
{
    const auto deadline = SteadyClock::now() + totalTimeout;
    char buf[4096];
    while (out.size() < maxBytes) {
        ERR_clear_error();
        errno = 0;
        std::size_t got = 0;
        const std::size_t room = std::min(sizeof(buf), maxBytes - out.size());
        if (SSL_read_ex(m_ssl.get(), buf, room, &got) == 1) {
            out.append(buf, got);
            continue;
        }
        if (SSL_get_error(m_ssl.get(), 0) == SSL_ERROR_ZERO_RETURN)
            return true;
        const short events = pendingEvents(0);
        if (events == 0)
            return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0)
            return ready(SocketWait::TimedOut);
        const bool lastWait = left <= idleTimeout;
        const SocketWait waited = m_wait(m_fd, events, lastWait ? left : idleTimeout);
        // Idle after some text: the server has answered and keeps the
        // connection. At the bound of the whole read: a trickle, no answer.
        if (waited == SocketWait::TimedOut && !out.empty() && !lastWait)
            return true;
        if (!ready(waited))
            return false;
    }
    return true;
}

int TlsStream::certificateDaysLeft() const
{
    const X509* cert = m_ssl ? SSL_get0_peer_certificate(m_ssl.get()) : nullptr;
    int days = 0;
    int seconds = 0;
    if (cert == nullptr || ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(cert)) != 1)
        return 0;
    return days == 0 && seconds < 0 ? -1 : days;
}

void TlsStream::close()
{
    if (m_ssl && SSL_is_init_finished(m_ssl.get()))
        SSL_shutdown(m_ssl.get());
}

} // namespace qm
