// A small program the tool tests run where the test process itself cannot:
// inside a network namespace (trace route) or a mount namespace with another
// services database (syslog). Prints what the tools produce.
#include "platform/IcmpSocket.h"
#include "platform/OperatorPrompt.h"
#include "probes/ProbeSocket.h"
#include "probes/ResultSink.h"
#include "tools/SyslogReceiver.h"
#include "tools/TraceRoute.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class PrintingSink : public qm::ResultSink
{
public:
    void reportSuccess(uint32_t, std::unique_ptr<qm::ProbeResult> r) override
    {
        std::printf("success: %s\n", r->message.c_str());
    }
    void reportFailure(uint32_t, std::unique_ptr<qm::ProbeResult> r) override
    {
        std::printf("failure: %s\n", r->message.c_str());
    }
};

class PrintingPrompt : public qm::OperatorPrompt
{
public:
    void inform(Icon, const std::string& text) override { std::printf("prompt: %s\n", text.c_str()); }
    bool confirm(const std::string&) override { return false; }
};

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    PrintingSink sink;
    PrintingPrompt prompt;
    if (argc == 3 && std::strcmp(argv[1], "traceroute") == 0) {
        qm::ProbeSocket probe(sink);
        const std::string report = qm::TraceRouteReport(probe, argv[2], &prompt);
        std::printf("%s--- end of report\n", report.c_str());
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "trace-hops") == 0) {
        // Each hop as soon as it is known, between the reports made for it.
        qm::ProbeSocket probe(sink);
        const qm::TraceOutcome outcome = qm::TraceRoute(
            probe, argv[2],
            [](const qm::TraceHop& hop) {
                std::printf("hop: %02d %d [%s] [%s]\n", hop.ttl, hop.result, hop.address.c_str(),
                            hop.name.c_str());
            },
            &prompt);
        std::printf("hops: %d\n", outcome.hops);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "syslog-cycles") == 0) {
        qm::SyslogReceiver receiver(sink, prompt);
        const int cycles = std::atoi(argv[2]);
        for (int i = 0; i < cycles; ++i)
            receiver.cycle({});
        std::printf("listening: %d\n", receiver.listening() ? 1 : 0);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "echo") == 0) {
        qm::ProbeSocket probe(sink);
        probe.ProbeEcho(argv[2]);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "icmp-kind") == 0) {
        qm::IcmpSocket icmp;
        std::printf("%s\n", !icmp.open(1) ? "none" : icmp.isRaw() ? "raw" : "datagram");
        return 0;
    }
    std::fprintf(stderr, "usage: %s traceroute HOST | trace-hops HOST | echo HOST | syslog-cycles N | icmp-kind\n", argv[0]);
    return 2;
}
