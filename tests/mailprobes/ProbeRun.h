#pragma once

#include "probes/ProbeSocket.h"
#include "support/RecordingSink.h"
#include "support/ScriptedServer.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace qm::test {

// Runs one probe call on a fresh probe object and keeps what it reported.
class ProbeRun
{
public:
    template <class Call> explicit ProbeRun(Call&& call)
    {
        ProbeSocket probe(m_sink);
        call(probe);
        m_closed = probe.socketHandle() < 0;
        m_reports = m_sink.results();
    }

    const std::vector<RecordingSink::Report>& reports() const { return m_reports; }
    // The span of the only success report.
    bool socketClosed() const { return m_closed; }
    uint32_t responseTime() const
    {
        return m_reports.empty() ? 0 : m_reports.front().result.responseTime;
    }

    // Exactly one report, of the kind, with the message, and the socket closed.
    ::testing::AssertionResult onlySuccess(const std::string& message) const;
    ::testing::AssertionResult onlyFailure(const std::string& message) const;

private:
    ::testing::AssertionResult only(RecordingSink::Report::Kind kind,
                                    const std::string& message) const;

    RecordingSink m_sink;
    std::vector<RecordingSink::Report> m_reports;
    bool m_closed = false;
};

// A scripted line server: the greeting, then one reply for each line the
// probe sends (nothing once they run out), then it waits (bounded) for the
// probe to close.
struct Dialogue
{
    std::string greeting;
    std::vector<std::string> replies;
    std::chrono::milliseconds greetingDelay{0};
    std::chrono::milliseconds lastReplyDelay{0};
};
ScriptedServer::Script Scripted(Dialogue dialogue);

// The first line a server sends on a new connection, read by a plain client
// and trimmed: what a probe should report as the greeting.
std::string ReadGreetingLine(int port);

// Every byte the first connection to the server sent, once it has ended.
std::string FirstConnectionBytes(const ScriptedServer& server);

} // namespace qm::test
