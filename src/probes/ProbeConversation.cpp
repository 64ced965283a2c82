#include "probes/ProbeConversation.h"

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
} // namespace

bool ProbeConversation::Accepted(std::string_view reply, std::string_view expected)
{
    // A shorter line is compared whole, so it cannot equal the code.
    return reply.substr(0, expected.size()) == expected;
}

void ProbeConversation::Run(ProbeSocket& probe, const std::string& host, int port,
                            std::span<const Step> steps)
{
    // A failed resolution or connect has been reported and closed already.
    if (!probe.ConnectStream(host, port))
        return;
    SocketCloser closer(probe);
    const uint32_t start = probe.clock().tick();

    std::optional<std::string> greeting;
    for (const Step& step : steps) {
        // What SendText returns is not looked at: after a failed send the
        // reply is still read, and an empty one fails the comparison below.
        if (!step.command.empty())
            probe.SendText(step.command);
        if (step.expected.empty())
            continue;
        // One line per step, whatever the server's reply spans.
        std::string reply = probe.ReceiveText(step.stopByte);
        if (!Accepted(reply, step.expected)) {
            probe.ReportFailure(std::move(reply));
            return;
        }
        if (!greeting)
            greeting = std::move(reply);
    }

    const uint32_t end = probe.clock().tick();
    probe.CloseSocket();
    probe.ReportSuccess(greeting.value_or(std::string()), end - start);
}

} // namespace qm
