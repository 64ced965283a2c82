#include "app/monitor/TraceRouteCommand.h"

#include "app/monitor/CommandLine.h"
#include "platform/OperatorPrompt.h"
#include "probes/ProbeSocket.h"
#include "tools/TraceRoute.h"

namespace qm::cli {

namespace {
// Hop look-ups that fail report through the sink; show them on stderr.
class StderrSink final : public ResultSink
{
public:
    void reportSuccess(uint32_t, std::unique_ptr<ProbeResult>) override {}
    void reportFailure(uint32_t, std::unique_ptr<ProbeResult> r) override
    {
        PrintError(QString::fromStdString(r->message));
    }
};
} // namespace

int RunTraceRouteCommand(const QStringList& args)
{
    if (args.size() != 1 || args.first().isEmpty()) {
        PrintError(QStringLiteral("traceroute takes one HOST"));
        return kExitUsage;
    }
    StderrSink sink;
    StderrPrompt prompt;
    ProbeSocket probe(sink);
    PrintOut(QString::fromStdString(TraceRouteReport(probe, args.first().toStdString(), &prompt)));
    return kExitOk;
}

} // namespace qm::cli
