#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct ssl_st;
struct ssl_ctx_st;

namespace qm {

// How one wait on a socket ended.
enum class SocketWait
{
    Ready,
    TimedOut,
    Failed,
    Cancelled // the probe's run was stopped: the caller reports nothing
};

// Waits until the socket is ready for the poll events or the time is up. The
// one place where a TLS session blocks.
SocketWait WaitOnSocket(int fd, short events, std::chrono::milliseconds timeout);

// How a session waits; a probe passes one that also ends at its stop and
// within its exchange bound.
using SocketWaiter = std::function<SocketWait(int fd, short events, std::chrono::milliseconds timeout)>;

// A TLS client session over a connected stream socket that stays the caller's.
// The session puts the socket into non-blocking mode and bounds every wait.
// Failures leave their text in error(): "Timed out" or "TLS: <reason>".
class TlsStream
{
public:
    explicit TlsStream(int fd, SocketWaiter waiter = WaitOnSocket);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // The handshake, within the timeout in all. The server certificate must
    // chain to the system's trust store (or the file named by SSL_CERT_FILE)
    // and be issued for the host: a name is matched and sent as the server
    // name, an IPv4 or IPv6 literal is matched against the addresses.
    bool handshake(const std::string& host, std::chrono::milliseconds timeout);
    // Writes the whole text; each wait is bounded by the timeout.
    bool send(std::string_view text, std::chrono::milliseconds timeout);
    // Reads until the server closes, at most maxBytes. A wait idle for the
    // timeout ends the read: with the text so far when there is some, else
    // as a failure. The read as a whole ends at totalTimeout as a failure.
    bool receiveAll(std::string& out, std::size_t maxBytes, std::chrono::milliseconds idleTimeout,
                    std::chrono::milliseconds totalTimeout);
    // Whole days from now to the end of the server certificate's validity.
    int certificateDaysLeft() const;
    // Sends the closing alert without waiting for the server's.
    void close();

    const std::string& error() const { return m_error; }

private:
    // After a call that did not complete: the poll events to wait for, or 0
    // when the session failed (error() then says why).
    short pendingEvents(int rc);
    // False, with error() set, unless the wait found the socket ready.
    bool ready(SocketWait waited);

    struct Free
    {
        void operator()(ssl_st* ssl) const;
    };
    int m_fd;
    SocketWaiter m_wait;
    std::shared_ptr<ssl_ctx_st> m_ctx; // shared by the sessions of all probes
    std::unique_ptr<ssl_st, Free> m_ssl;
    std::string m_error;
};

} // namespace qm
