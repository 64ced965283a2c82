// The network bounds of the stream probes. Every case waits out a full bound,
// so they run side by side in one test: about ten seconds in all.
#include "ReportTexts.h"
#include "support/TestNamespace.h"

#include "probes/ProbeSocket.h"
#include "support/RecordingSink.h"
#include "support/ScriptedServer.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::RecordingSink;
using test::ReportTexts;
using test::ScriptedConnection;
using test::ScriptedServer;

struct Outcome
{
    std::vector<std::string> messages;
    uint32_t responseTime = 0;
    std::chrono::milliseconds waited{};
    std::string error;
};

// Runs fn with a fresh probe on a thread of its own and times it.
std::thread Timed(Outcome& out, std::function<void(ProbeSocket&)> fn)
{
    return std::thread([&out, fn = std::move(fn)] {
        RecordingSink sink;
        ProbeSocket probe(sink);
        const auto start = std::chrono::steady_clock::now();
        fn(probe);
        out.waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        for (const auto& text : ReportTexts(sink))
            out.messages.push_back(text);
        if (!sink.results().empty())
            out.responseTime = sink.results().back().result.responseTime;
    });
}

TEST(BoundedWaits, ConnectAndReceiveWaitsEndAfterTenSeconds)
{
    std::atomic<bool> release{false};
    // Holds the connection open, silent, until the test ends (15 s at most).
    auto hold = [&release](ScriptedConnection&) {
        for (int i = 0; i < 750 && !release; ++i)
            std::this_thread::sleep_for(20ms);
    };
    ScriptedServer silent(hold);
    ScriptedServer silentHttp(hold);
    ScriptedServer keepAlive([&](ScriptedConnection& c) {
        c.receiveUntil("\n\n");
        c.send("HTTP/1.1 200 OK\r\nServer: held/1.0\r\nContent-Length: 0\r\n\r\n");
        hold(c);
    });
    test::TestNamespace ns;
    ASSERT_EQ(ns.error(), "");

    Outcome receive, connect, httpHeld, httpSilent;
    std::vector<std::thread> runs;
    runs.push_back(Timed(receive, [&](ProbeSocket& p) {
        if (p.ConnectStream("127.0.0.1", silent.port()))
            receive.messages.push_back("line: " + p.ReceiveText('\n'));
    }));
    runs.push_back(Timed(httpHeld, [&](ProbeSocket& p) { p.ProbeHttp("127.0.0.1", keepAlive.port(), "", ""); }));
    runs.push_back(Timed(httpSilent, [&](ProbeSocket& p) { p.ProbeHttp("127.0.0.1", silentHttp.port(), "", ""); }));
    runs.push_back(std::thread([&] {
        const auto start = std::chrono::steady_clock::now();
        RecordingSink sink;
        connect.error = ns.run([&] {
            ProbeSocket probe(sink);
            if (probe.ConnectStream(test::TestNamespace::kSilentAddress, 80))
                connect.messages.push_back("connected");
        });
        connect.waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        for (const auto& text : ReportTexts(sink))
            connect.messages.push_back(text);
    }));
    for (auto& t : runs)
        t.join();
    release = true;

    EXPECT_EQ(receive.messages, (std::vector<std::string>{"line: ", "fail: Timed out"}));
    // A server that keeps the connection after its headers has still answered.
    EXPECT_EQ(httpHeld.messages, std::vector<std::string>{"ok: HTTP/1.1 200 OK [held/1.0]"});
    EXPECT_GE(httpHeld.responseTime, 9500u);
    EXPECT_EQ(httpSilent.messages, std::vector<std::string>{"fail: Timed out"});
    ASSERT_EQ(connect.error, "");
    EXPECT_EQ(connect.messages, std::vector<std::string>{
                                    "fail: Connect Failed Attempt to connect timed out without establishing a connection."});
    for (const Outcome* o : {&receive, &httpHeld, &httpSilent, &connect}) {
        EXPECT_GE(o->waited, 9500ms);
        EXPECT_LT(o->waited, 13000ms);
    }
}

} // namespace
} // namespace qm
