#pragma once

#include "engine/ProbeDispatch.h"
#include "probes/ProbeSocket.h"
#include "support/RecordingSink.h"
#include "support/ScriptedServer.h"

#include <chrono>
#include <string>
#include <vector>

namespace qm::test {

using Texts = std::vector<std::string>;

// The success and failure reports of a sink as "ok: <message>" and
// "fail: <message>", in order.
inline Texts ReportTexts(const RecordingSink& sink)
{
    Texts out;
    for (const auto& r : sink.results())
        out.push_back((r.kind == RecordingSink::Report::Success ? "ok: " : "fail: ") + r.result.message);
    return out;
}

// Runs one probe call on a fresh probe object and keeps its reports; a probe
// that leaves its socket open adds "socket left open" to them.
struct ProbeRun
{
    template <class Call> explicit ProbeRun(Call&& call, const Clock& clock = Clock::system())
    {
        RecordingSink sink;
        ProbeSocket probe(sink, clock);
        call(probe);
        texts = ReportTexts(sink);
        if (probe.socketHandle() >= 0)
            texts.push_back("socket left open");
        if (!sink.results().empty()) {
            responseTime = sink.results().back().result.responseTime;
            warning = sink.results().back().result.warning;
        }
    }

    Texts texts;
    uint32_t responseTime = 0; // of the last report
    bool warning = false;      // of the last report
};

// What a probe of the host gets from the dispatch.
inline PollArgs HostArgs(std::string address, int port, std::string user = {}, std::string password = {},
                         std::string domain = {})
{
    PollArgs args;
    args.address = std::move(address);
    args.port = port;
    args.userId = std::move(user);
    args.password = std::move(password);
    args.domain = std::move(domain);
    return args;
}

// The probe the dispatch runs for the protocol name, once.
inline ProbeRun RunNamed(const std::string& protocol, const PollArgs& args)
{
    return ProbeRun([&](ProbeSocket& p) { RunProbe(p, protocol, args); });
}

// Every byte the first connection to the server sent, once it has ended.
inline std::string FirstConnectionBytes(const ScriptedServer& server)
{
    const auto received = server.waitForReceived(1, std::chrono::seconds(10));
    return received.empty() ? std::string("<no connection ended>") : received.front();
}

} // namespace qm::test
