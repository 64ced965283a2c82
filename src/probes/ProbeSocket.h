#pragma once

#include "platform/Clock.h"
#include "probes/ProbeLimits.h"
#include "probes/ProbeResult.h"
#include "probes/ResultSink.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <string_view>

namespace qm {

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
    // 65536 bytes and trimmed. Empty after a reported failure.
    std::string ReceiveText(char stopByte);

    struct ReadOptions
    {
        char stopByte = '\n';
        int idleTimeoutMs = kReceiveTimeoutMs;
        // When the wait expires after some bytes arrived, return them instead
        // of reporting "Timed out".
        bool keepPartialOnTimeout = false;
        // Bound of the whole read (0: none), measured with clock(); no wait
        // goes past it.
        int totalLimitMs = 0;
        // At that bound: true ends the read with the text gathered so far,
        // false reports "Timed out" as an expired wait does.
        bool keepTextAtLimit = false;
    };
    std::string ReceiveText(const ReadOptions& options);

    // One byte of the current stream, read through the socket's buffer.
    enum : int { kPeerClosed = -1, kReadTimedOut = -2, kReadFailed = -3 };
    int ReadByte(int timeoutMs);
    int lastError() const { return m_lastError; }

    std::string LookupAddressText(const std::string& host);
    std::string LookupHostName(const std::string& address);

    void ReportSuccess(std::unique_ptr<ProbeResult> result);
    void ReportFailure(std::unique_ptr<ProbeResult> result);
    void ReportSuccess(std::string message, uint32_t responseTime);
    void ReportFailure(std::string message);

    // Resolves, creates a stream socket and connects within the connect bound.
    // Returns false when any step fails, after reporting why unless silent.
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
