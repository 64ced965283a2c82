#include "tools/ServiceProbes.h"

#include "platform/SocketErrors.h"
#include "probes/MessageTemplate.h"
#include "probes/ProbeSocket.h"
#include "probes/SocketErrorText.h"
#include "tools/UniqueFd.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace qm {

namespace {

enum TftpOpcode : int { kRrq = 1, kData = 3, kError = 5 };

constexpr std::size_t kTftpBufferSize = 2048;

void AppendBe16(std::string& out, int value)
{
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

int ReadBe16(const uint8_t* p)
{
    return (p[0] << 8) | p[1];
}

std::string ReadRequest(const std::string& fileName)
{
    std::string packet;
    AppendBe16(packet, kRrq);
    packet += fileName;
    packet += '\0';
    packet += "octet";
    packet += '\0';
    return packet;
}

// Ends a transfer the server has started, so it does not keep resending the
// block until its own time-out.
void EndTransfer(int fd, const sockaddr_in& to)
{
    std::string packet;
    AppendBe16(packet, kError);
    AppendBe16(packet, 0);
    packet += "probe done";
    packet += '\0';
    ::sendto(fd, packet.data(), packet.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
}

// What one datagram from the server says; false for one that is no answer.
bool DescribeAnswer(const uint8_t* bytes, std::size_t count, std::string& text)
{
    if (count < 4)
        return false;
    const int opcode = ReadBe16(bytes);
    if (opcode == kData) {
        text = "DATA block ";
        text += std::to_string(ReadBe16(bytes + 2));
        text += ", ";
        text += std::to_string(count - 4);
        text += " bytes";
        return true;
    }
    if (opcode == kError) {
        const char* message = reinterpret_cast<const char*>(bytes + 4);
        const std::size_t length = ::strnlen(message, count - 4);
        text = "ERROR ";
        text += std::to_string(ReadBe16(bytes + 2));
        if (length > 0) {
            text += ' ';
            text.append(message, length);
        }
        return true;
    }
    return false;
}

} // namespace

void ProbeTftp(ProbeSocket& probe, const std::string& host, int port, const std::string& fileName,
               const TftpTiming& timing)
{
    sockaddr_in server;
    if (probe.ResolveAddress(host, port > 0 ? port : kTftpDefaultPort, server) != 0)
        return;
    // Not connected: the server answers from a port of its own.
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        probe.ReportFailure(FormatTemplate("Connect Failed %1!s!", {SocketErrorText(LastSocketError())}));
        return;
    }
    // An e-mail domain inherited from the defaults names no file.
    const bool named = !fileName.empty() && fileName.find('@') == std::string::npos;
    const std::string request = ReadRequest(named ? fileName : kTftpDefaultFile);
    std::array<uint8_t, kTftpBufferSize> reply{};
    const uint32_t start = probe.clock().tick();
    for (int sent = 0; sent < timing.requests; ++sent) {
        if (::sendto(fd.get(), request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&server),
                     sizeof(server))
            < 0) {
            probe.ReportFailure(FormatTemplate("Sendto failed: %1!s!", {SocketErrorText(LastSocketError())}));
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timing.replyWaitMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                break;
            const ProbeSocket::Wait waited = probe.WaitReady(fd.get(), POLLIN, static_cast<int>(left));
            if (waited == ProbeSocket::Wait::Cancelled)
                return;
            if (waited == ProbeSocket::Wait::TimedOut)
                continue;
            sockaddr_in from{};
            socklen_t fromLength = sizeof(from);
            const ssize_t n = waited == ProbeSocket::Wait::Failed
                                  ? -1
                                  : ::recvfrom(fd.get(), reply.data(), reply.size(), MSG_DONTWAIT,
                                               reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    continue;
                probe.ReportFailure(FormatTemplate("Recvfrom failed: %1!s!", {SocketErrorText(LastSocketError())}));
                return;
            }
            if (from.sin_addr.s_addr != server.sin_addr.s_addr)
                continue;
            const uint32_t end = probe.clock().tick();
            std::string answer;
            if (!DescribeAnswer(reply.data(), static_cast<std::size_t>(n), answer)) {
                probe.ReportFailure(FormatTemplate("TFTP: not a TFTP answer (%1!d! bytes)", {std::to_string(n)}));
                return;
            }
            if (ReadBe16(reply.data()) == kData)
                EndTransfer(fd.get(), from);
            probe.ReportSuccess(FormatTemplate("TFTP: %1!s!", {answer}), end - start);
            return;
        }
    }
    probe.ReportFailure("Timed out");
}

} // namespace qm
