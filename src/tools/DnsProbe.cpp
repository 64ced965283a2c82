#include "tools/DnsProbe.h"

#include "platform/OperatorPrompt.h"
#include "platform/SocketErrors.h"
#include "platform/ThreadId.h"
#include "probes/MessageTemplate.h"
#include "probes/ProbeSocket.h"
#include "probes/SocketErrorText.h"
#include "tools/UniqueFd.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

#ifndef QUILLMERE_DNS_QUERY_NAME
#error "QUILLMERE_DNS_QUERY_NAME must be set by the build"
#endif

namespace qm {

namespace {

// Numeric names shorter than this are asked in reverse; their reverse name
// then stays within 255 characters.
constexpr std::size_t kMaxReverseSource = 242;

void WriteBe16(uint8_t* p, int value)
{
    p[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
    p[1] = static_cast<uint8_t>(value & 0xFF);
}

// "10.1.2.3" -> "3.2.1.10.IN-ADDR.ARPA". The text is read as inet_addr reads
// it: the short forms count ("10.1.2" is 10.1.0.2), and a text that is no
// address gives INADDR_NONE, so it is asked as 255.255.255.255.IN-ADDR.ARPA.
std::string ReverseName(const std::string& address)
{
    in_addr reversed{};
    reversed.s_addr = htonl(::inet_addr(address.c_str()));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reversed, text, sizeof(text));
    return std::string(text) + ".IN-ADDR.ARPA";
}

// The failure text; after a reply, its cause follows in parentheses.
std::string QueryFailedText(const std::string& name, int status, const std::string& cause = {})
{
    std::string text = "DNS A Record Query for " + name + " failed.  iStatus=[" + std::to_string(status) + "]";
    if (!cause.empty()) {
        text += " (";
        text += cause;
        text += ')';
    }
    return text;
}

} // namespace

std::string DefaultDnsQueryName()
{
    return QUILLMERE_DNS_QUERY_NAME;
}

std::string DnsQueryNameFor(const std::string& entryDomain, const std::string& configuredName)
{
    // A domain with "@" is the e-mail domain that new entries inherit from
    // the defaults, not a name to ask for.
    if (!entryDomain.empty() && entryDomain.find('@') == std::string::npos)
        return entryDomain;
    return configuredName.empty() ? DefaultDnsQueryName() : configuredName;
}

bool IsNumericAddress(std::string_view text)
{
    for (char c : text)
        if (c != '.' && std::isalpha(static_cast<unsigned char>(c)))
            return false;
    return true;
}

int DNS_Query(ProbeSocket& probe, const std::string& queryName, const std::string& server, int port,
              int queryType, DnsReply& reply, int waitMs)
{
    std::array<uint8_t, kDnsBufferSize> query{};
    WriteBe16(query.data(), static_cast<int>(CurrentThreadId() & 0xFFFF));
    WriteBe16(query.data() + 2, 0x0100); // recursion desired, nothing else
    WriteBe16(query.data() + 4, 1);
    // A trailing dot only says the name is complete; its label form ends with
    // the zero byte anyway, so the dot is not encoded.
    std::string_view wireName = queryName;
    if (wireName.size() > 1 && wireName.back() == '.')
        wireName.remove_suffix(1);
    const int nameBytes =
        EncodeDnsName(wireName, query.data() + kDnsHeaderSize, query.size() - kDnsHeaderSize - 4);
    if (nameBytes < 0) {
        probe.ReportFailure("DNS query name " + queryName + " is too long");
        return kDnsSendFailed;
    }
    std::size_t size = kDnsHeaderSize + static_cast<std::size_t>(nameBytes) + 1;
    WriteBe16(query.data() + size, queryType);
    WriteBe16(query.data() + size + 2, 1);
    size += 4;

    sockaddr_in address;
    if (probe.ResolveAddress(server, port, address) != 0)
        return kDnsServerUnresolved;

    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        probe.ReportFailure(FormatTemplate("Connect Failed %1!s!", {SocketErrorText(LastSocketError())}));
        return kDnsSocketFailed;
    }
    // A zero time-out would mean no limit at all.
    waitMs = std::max(waitMs, 1);
    const timeval tv{waitMs / 1000, (waitMs % 1000) * 1000};
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) != 0) {
        probe.ReportFailure(
            FormatTemplate("Failed to set recv timeout: %1!s!", {SocketErrorText(LastSocketError())}));
        return kDnsSendFailed;
    }
    if (::sendto(fd.get(), query.data(), size, 0, reinterpret_cast<const sockaddr*>(&address),
                 sizeof(address))
        < 0) {
        probe.ReportFailure(FormatTemplate("Sendto failed: %1!s!", {SocketErrorText(LastSocketError())}));
        return kDnsSendFailed;
    }
    // The wait also ends at a stop of the run, which reports nothing.
    switch (probe.WaitReady(fd.get(), POLLIN, waitMs)) {
    case ProbeSocket::Wait::Cancelled:
        return kDnsNoReply;
    case ProbeSocket::Wait::TimedOut:
        probe.ReportFailure("DNS_Query: ...receive timed out! " + SocketErrorText(WsaETimedOut));
        return kDnsNoReply;
    case ProbeSocket::Wait::Ready:
    case ProbeSocket::Wait::Failed:
        break;
    }
    // The first datagram that arrives is taken, whoever sent it.
    ssize_t received;
    do
        received = ::recvfrom(fd.get(), reply.data(), reply.size(), 0, nullptr, nullptr);
    while (received < 0 && errno == EINTR);
    if (received < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            probe.ReportFailure("DNS_Query: ...receive timed out! " + SocketErrorText(WsaETimedOut));
            return kDnsNoReply;
        }
        probe.ReportFailure(FormatTemplate("Recvfrom failed: %1!s!", {SocketErrorText(LastSocketError())}));
        return kDnsReceiveFailed;
    }
    return static_cast<int>(received);
}

void ProbeDns(ProbeSocket& probe, const std::string& host, int port, const std::string& queryName,
              OperatorPrompt* prompt)
{
    std::string name = queryName.empty() ? DefaultDnsQueryName() : queryName;
    int type = kDnsTypeA;
    if (IsNumericAddress(name) && name.find("in-addr") == std::string::npos
        && name.find("IN-ADDR") == std::string::npos) {
        if (name.size() < kMaxReverseSource) {
            name = ReverseName(name);
            type = kDnsTypePtr;
        } else if (prompt) {
            // Too long for a reverse name: asked for as it is, as a host name.
            prompt->inform(OperatorPrompt::Icon::Warning, "DNS: Invalid address");
        }
    }

    // Both queries share one bound, so that a stop request is heard in time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDnsReceiveTimeoutMs);
    const auto waitLeft = [deadline] {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    };
    DnsReply reply{};
    // The cause of the latest reply that arrived, for the failure text.
    std::string cause;
    const uint32_t start = probe.clock().tick();
    int outcome = DNS_Query(probe, name, host, port, type, reply, waitLeft());
    uint32_t end = probe.clock().tick();
    if (outcome == kDnsNoReply) {
        probe.ReportFailure(QueryFailedText(name, 0));
        return;
    }
    std::size_t received = outcome > 0 ? static_cast<std::size_t>(outcome) : 0;
    if (DnsAnswerCount(reply.data(), received) == 0) {
        if (received > 0)
            cause = DnsReplyCause(reply.data(), received);
        // No address records (or no reply at all): ask for mail exchangers.
        outcome = DNS_Query(probe, name, host, port, kDnsTypeMx, reply, waitLeft());
        end = probe.clock().tick();
        received = outcome > 0 ? static_cast<std::size_t>(outcome) : 0;
        if (received > 0)
            cause = DnsReplyCause(reply.data(), received);
        if (outcome == kDnsNoReply) {
            probe.ReportFailure(QueryFailedText(name, 0, cause));
            return;
        }
        if (DnsAnswerCount(reply.data(), received) == 0) {
            probe.ReportFailure(QueryFailedText(name, outcome, cause));
            return;
        }
    }
    const DnsAnswers answers = FormatDnsAnswers(reply.data(), received);
    if (!answers.problem.empty()) {
        probe.ReportFailure("Malformed DNS reply for " + name + ": " + answers.problem);
        return;
    }
    probe.ReportSuccess("Success: A Record Query:[ " + name + " ] Returned:[ " + answers.text + " ]",
                        end - start);
}

} // namespace qm
