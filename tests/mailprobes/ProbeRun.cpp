#include "mailprobes/ProbeRun.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace qm::test {

::testing::AssertionResult ProbeRun::only(RecordingSink::Report::Kind kind,
                                          const std::string& message) const
{
    const char* wanted = kind == RecordingSink::Report::Success ? "success" : "failure";
    if (m_reports.size() != 1) {
        auto out = ::testing::AssertionFailure()
                   << "expected one " << wanted << " report, got " << m_reports.size() << ":";
        for (const auto& r : m_reports)
            out << "\n  " << (r.kind == RecordingSink::Report::Success ? "success" : "failure")
                << " \"" << r.result.message << "\"";
        return out;
    }
    const auto& r = m_reports.front();
    if (r.kind != kind)
        return ::testing::AssertionFailure()
               << "expected " << wanted << ", got the other with \"" << r.result.message << "\"";
    if (r.result.message != message)
        return ::testing::AssertionFailure() << wanted << " message \"" << r.result.message
                                             << "\", expected \"" << message << "\"";
    if (!m_closed)
        return ::testing::AssertionFailure() << "the probe left its socket open";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ProbeRun::onlySuccess(const std::string& message) const
{
    return only(RecordingSink::Report::Success, message);
}

::testing::AssertionResult ProbeRun::onlyFailure(const std::string& message) const
{
    return only(RecordingSink::Report::Failure, message);
}

ScriptedServer::Script Scripted(Dialogue dialogue)
{
    return [dialogue](ScriptedConnection& conn) {
        std::this_thread::sleep_for(dialogue.greetingDelay);
        conn.send(dialogue.greeting);
        for (std::size_t i = 0; i < dialogue.replies.size(); ++i) {
            const std::string line = conn.receiveUntil("\n");
            if (line.empty() || line.back() != '\n')
                return; // the probe stopped talking
            if (i + 1 == dialogue.replies.size())
                std::this_thread::sleep_for(dialogue.lastReplyDelay);
            conn.send(dialogue.replies[i]);
        }
        conn.receiveAll(std::chrono::milliseconds(5000));
    };
}

std::string ReadGreetingLine(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ScriptedConnection conn(fd);
    std::string line;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0)
        line = conn.receiveUntil("\n", std::chrono::milliseconds(5000));
    conn.close();
    return TrimText(line);
}

std::string FirstConnectionBytes(const ScriptedServer& server)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server.received().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const auto received = server.received();
    return received.empty() ? std::string("<no connection ended>") : received.front();
}

} // namespace qm::test
