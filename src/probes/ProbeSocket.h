#pragma once

#include "platform/CancelToken.h"
#include "platform/Clock.h"
#include "probes/ProbeLimits.h"
#include "probes/ProbeResult.h"
#include "probes/ResultSink.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <string_view>

namespace qm {

// Whether `host` is an IPv4 or IPv6 address literal rather than a name.
bool IsAddressLiteral(const std::string& host);

// The probe object: owns one socket at a time and the ICMP sequence counter,
// and carries the operations every probe shares. One per probing thread.
class ProbeSocket
{
public:
    explicit ProbeSocket(ResultSink& sink, const Clock& clock = Clock::system());
    virtual ~ProbeSocket();
    ProbeSocket(const ProbeSocket&) = delete;
    ProbeSocket& operator=(const ProbeSocket&) = delete;

    // --- shared socket operations -------------------------------------------
    // 0 when resolved into addr; 1 after reporting "Can't resolve <host>".
    int ResolveAddress(const std::string& host, int port, sockaddr_in& addr);
    // One send of the whole text; the count sent, or 0 after a reported failure.
    int SendText(std::string_view text);
    // One reply read up to the stop byte (0: up to the peer's close), capped at
    // 65536 bytes and trimmed, within the idle and whole-read bounds. Empty
    // after a reported failure (or a stop).
    std::string ReceiveText(char stopByte);

    struct ReadOptions
    {
        // The probe's own whole-read bound, limits().replyMs.
        static constexpr int kProbeReplyLimit = -1;

        char stopByte = '\n';
        int idleTimeoutMs = kReceiveTimeoutMs;
        // When the idle wait expires after some bytes arrived, return them
        // instead of reporting "Timed out".
        bool keepPartialOnTimeout = false;
        // Bound of the whole read (0: none). Reached, it reports "Timed out"
        // whatever has arrived.
        int totalLimitMs = kProbeReplyLimit;
        // False returns the line as read, blanks and carriage return included.
        bool trim = true;
    };
    std::string ReceiveText(const ReadOptions& options);

    // How the last ReceiveText ended. IdleTimeout: nothing came; Stalled: the
    // idle wait expired partway; OverLimit: a whole-read or exchange bound.
    enum class ReadEnd { Complete, PeerClosed, IdleTimeout, Stalled, OverLimit, Failed, Cancelled };
    ReadEnd lastReadEnd() const { return m_lastReadEnd; }

    // One byte of the current stream, read through the socket's buffer; the
    // wait ends early at the exchange bound (kReadTimedOut) or a stop.
    enum : int { kPeerClosed = -1, kReadTimedOut = -2, kReadFailed = -3, kReadCancelled = -4 };
    int ReadByte(int timeoutMs);
    int lastError() const { return m_lastError; }

    // A stop of the whole run: every wait of this object ends at once once the
    // token is cancelled, and nothing is reported from then on.
    void setCancelToken(std::shared_ptr<const CancelToken> token) { m_cancel = std::move(token); }
    bool cancelled() const { return m_cancel && m_cancel->cancelled(); }

    // Waits until fd is ready for the poll() events, the stop comes or the
    // time-out passes; for probes that wait on sockets of their own.
    enum class Wait { Ready, TimedOut, Cancelled, Failed };
    Wait WaitReady(int fd, short events, int timeoutMs);

    void setLimits(const ProbeLimits& limits) { m_limits = limits; }
    const ProbeLimits& limits() const { return m_limits; }
    // Milliseconds left of the current exchange (a large number when none runs).
    int exchangeLeftMs() const;

    std::string LookupAddressText(const std::string& host);
    std::string LookupHostName(const std::string& address);

    void ReportSuccess(std::unique_ptr<ProbeResult> result);
    void ReportFailure(std::unique_ptr<ProbeResult> result);
    void ReportSuccess(std::string message, uint32_t responseTime);
    void ReportFailure(std::string message);

    // Resolves, creates a stream socket and connects within the connect bound,
    // and starts the exchange bound. Returns false when any step fails, after
    // reporting why unless silent (a stop is never reported).
    enum class Failures { Report, Silent };
    bool ConnectStream(const std::string& host, int port, Failures failures = Failures::Report);
    void CloseSocket();
    int socketHandle() const { return m_socket; }

    // --- probes -------------------------------------------------------------
    void ProbeEcho(const std::string& host);
    void ProbeHttp(const std::string& host, int port, const std::string& userId,
                   const std::string& password);
    void EvaluateHttpResponse(const std::string& response, uint32_t elapsedMs);
    void ProbeHttps(const std::string& host, int port, const std::string& userId, const std::string& password,
                    int certWarnDays);
    void ProbePop3(const std::string& host, int port, const std::string& userId,
                   const std::string& password, const std::string& domain);
    void ProbeImap4(const std::string& host, int port, const std::string& userId,
                    const std::string& password, const std::string& domain);
    void ProbeSmtp(const std::string& host, int port, const std::string& userId,
                   const std::string& password, const std::string& domain);
    void ProbeEsmtp(const std::string& host, int port, const std::string& userId,
                    const std::string& password, const std::string& domain);
    void ProbeFtp(const std::string& host, int port, const std::string& userId,
                  const std::string& password);
    void ProbeNntp(const std::string& host, int port, const std::string& userId,
                   const std::string& password, const std::string& domain);

    // The echo sequence number of the next request; grows by one per request.
    uint16_t NextEchoSequence() { return m_sequence++; }

    uint16_t sequenceNumber() const { return m_sequence; }
    const Clock& clock() const { return m_clock; }
    ResultSink& sink() const { return m_sink; }

protected:
    // Adopts an already created socket (datagram probes and listeners).
    void adoptSocket(int fd);

    int m_socket = -1;
    bool m_open = false;      // set by listeners that bind a datagram socket
    uint16_t m_sequence = 0;  // ICMP echo sequence, per probe object

private:
    ResultSink& m_sink;
    const Clock& m_clock;
    int m_lastError = 0;
    ReadEnd m_lastReadEnd = ReadEnd::Complete;
    ProbeLimits m_limits;
    std::shared_ptr<const CancelToken> m_cancel;
    // End of the exchange bound of the open stream; unset without one.
    std::chrono::steady_clock::time_point m_exchangeEnd{};
    bool m_inExchange = false;
    // Receive buffer of the current stream: bytes are handed out one by one
    // exactly as single-byte reads would, with far fewer system calls.
    std::unique_ptr<uint8_t[]> m_rx;
    std::size_t m_rxPos = 0;
    std::size_t m_rxLen = 0;
};

// Trims blank, tab, carriage return, line feed, vertical tab and form feed
// from both ends.
std::string TrimText(std::string_view text);

// The first IPv4 address of a name, else the text read as a dotted address
// (the name lookup comes first, also for texts that look like addresses).
// Reports nothing; false when neither works.
bool ResolveIPv4(const std::string& host, in_addr& out);

} // namespace qm
