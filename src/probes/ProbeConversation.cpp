#include "probes/ProbeConversation.h"

#include <chrono>
#include <cstdint>
#include <optional>

namespace qm {

namespace {
// Closes the probe's socket when the attempt leaves scope by any path.
class SocketCloser
{
public:
    explicit SocketCloser(ProbeSocket& probe) : m_probe(probe) {}
    ~SocketCloser() { m_probe.CloseSocket(); }
    SocketCloser(const SocketCloser&) = delete;
    SocketCloser& operator=(const SocketCloser&) = delete;

private:
    ProbeSocket& m_probe;
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "NNN-": the first line of a reply that goes on.
bool OpensMultiLine(std::string_view line)
{
    return line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) && line[3] == '-';
}

// The code of the reply followed by anything but "-" (or nothing) ends it;
// other lines, whatever they begin with, are its text.
bool EndsMultiLine(std::string_view line, std::string_view code)
{
    return line.substr(0, 3) == code && (line.size() == 3 || line[3] != '-');
}
} // namespace

bool ProbeConversation::Accepted(std::string_view reply, std::string_view expected)
{
    // A shorter line is compared whole, so it cannot equal the code.
    return reply.substr(0, expected.size()) == expected;
}

std::string ProbeConversation::ReadWholeReply(ProbeSocket& probe, char stopByte)
{
    using Clock = std::chrono::steady_clock;
    const int limit = probe.limits().replyMs;
    const auto end = Clock::now() + std::chrono::milliseconds(limit);
    ProbeSocket::ReadOptions options;
    options.stopByte = stopByte;
    options.totalLimitMs = limit;
    // Untrimmed, so that a text line padded with blanks never passes for the
    // last one.
    options.trim = false;
    std::string line = probe.ReceiveText(options);
    if (!OpensMultiLine(line))
        return TrimText(line);
    const std::string code = line.substr(0, 3);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        if (limit > 0 && left <= 0) {
            probe.ReportFailure("Timed out");
            return {};
        }
        options.totalLimitMs = limit > 0 ? static_cast<int>(left) : 0;
        line = probe.ReceiveText(options);
        if (EndsMultiLine(line, code))
            return TrimText(line);
        // A failed read has reported why; a close leaves the reply unended.
        if (probe.lastReadEnd() != ProbeSocket::ReadEnd::Complete)
            return {};
    }
}

void ProbeConversation::Run(ProbeSocket& probe, const std::string& host, int port, std::span<const Step> steps,
                            Replies replies)
{
    // A failed resolution or connect has been reported and closed already.
    if (!probe.ConnectStream(host, port))
        return;
    SocketCloser closer(probe);
    const uint32_t start = probe.clock().tick();

    std::optional<std::string> greeting;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        // What SendText returns is not looked at: after a failed send the
        // reply is still read, and an empty one fails the comparison below.
        if (!step.command.empty())
            probe.SendText(step.command);
        if (step.expected.empty())
            continue;
        std::string reply = replies == Replies::Whole ? ReadWholeReply(probe, step.stopByte)
                                                      : probe.ReceiveText(step.stopByte);
        const bool also = !step.alsoAccepted.empty() && Accepted(reply, step.alsoAccepted);
        if (!also && !Accepted(reply, step.expected)) {
            probe.ReportFailure(std::move(reply));
            return;
        }
        if (also)
            i += static_cast<std::size_t>(step.skipOnAlso);
        if (!greeting)
            greeting = std::move(reply);
    }

    const uint32_t end = probe.clock().tick();
    probe.CloseSocket();
    probe.ReportSuccess(greeting.value_or(std::string()), end - start);
}

} // namespace qm
