#pragma once

#include "probes/ProbeSocket.h"
#include "support/RecordingSink.h"
#include "support/ScriptedServer.h"

#include <chrono>
#include <string>
#include <thread>
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

// Every byte the first connection to the server sent, once it has ended.
inline std::string FirstConnectionBytes(const ScriptedServer& server)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server.received().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto received = server.received();
    return received.empty() ? std::string("<no connection ended>") : received.front();
}

} // namespace qm::test
