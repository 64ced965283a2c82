// The network bounds of the stream probes. Every case waits out a full bound,
// so they run side by side in one test: about ten seconds in all.
#include "probes/ProbeRun.h"
#include "support/TestNamespace.h"

#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::ScriptedConnection;
using test::ScriptedServer;
using test::Texts;

struct Outcome
{
    Texts messages;
    uint32_t responseTime = 0;
    std::chrono::milliseconds waited{};
    std::string error;
};

// Runs fn with a fresh probe on a thread of its own, inside the namespace when
// one is given, and times it.
std::thread Timed(Outcome& out, std::function<void(ProbeSocket&)> fn, const test::TestNamespace* ns = nullptr)
{
    return std::thread([&out, fn = std::move(fn), ns] {
        const auto start = std::chrono::steady_clock::now();
        const auto body = [&] {
            const test::ProbeRun run(fn);
            out.messages.insert(out.messages.end(), run.texts.begin(), run.texts.end());
            out.responseTime = run.responseTime;
        };
        if (ns)
            out.error = ns->run(body);
        else
            body();
        out.waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    });
}

TEST(BoundedWaits, ConnectAndReceiveWaitsEndAfterTenSeconds)
{
    // Each server holds the connection open, silent, until the probe closes it.
    const auto hold = [](ScriptedConnection& c) { c.receiveAll(15s); };
    ScriptedServer silent(hold);
    ScriptedServer keepAlive([&](ScriptedConnection& c) {
        c.receiveUntil("\r\n\r\n");
        c.send("HTTP/1.1 200 OK\r\nServer: held/1.0\r\nContent-Length: 0\r\n\r\n");
        hold(c);
    });
    test::TestNamespace ns;
    ASSERT_EQ(ns.error(), "");

    ScriptedServer silentTls(hold);
    Outcome receive, connect, httpHeld, tlsSilent;
    std::vector<std::thread> runs;
    runs.push_back(Timed(receive, [&](ProbeSocket& p) {
        if (p.ConnectStream("127.0.0.1", silent.port()))
            receive.messages.push_back("line: " + p.ReceiveText('\n'));
        p.CloseSocket();
    }));
    runs.push_back(Timed(httpHeld, [&](ProbeSocket& p) { p.ProbeHttp("127.0.0.1", keepAlive.port(), "", ""); }));
    runs.push_back(Timed(tlsSilent, [&](ProbeSocket& p) { p.ProbeHttps("localhost", silentTls.port(), "", "", 14); }));
    runs.push_back(Timed(
        connect, [](ProbeSocket& p) { p.ConnectStream(test::TestNamespace::kSilentAddress, 80); }, &ns));
    for (auto& t : runs)
        t.join();

    EXPECT_EQ(receive.messages, (Texts{"line: ", "fail: Timed out"}));
    // A server that keeps the connection after its headers has still answered.
    EXPECT_EQ(httpHeld.messages, Texts{"ok: HTTP/1.1 200 OK [held/1.0]"});
    EXPECT_GE(httpHeld.responseTime, 9500u);
    // A server that never answers the TLS handshake.
    EXPECT_EQ(tlsSilent.messages, Texts{"fail: Timed out"});
    ASSERT_EQ(connect.error, "");
    EXPECT_EQ(connect.messages,
              Texts{"fail: Connect Failed Attempt to connect timed out without establishing a connection."});
    for (const Outcome* o : {&receive, &httpHeld, &connect, &tlsSilent}) {
        EXPECT_GE(o->waited, 9500ms);
        EXPECT_LT(o->waited, 13000ms);
    }
}

} // namespace
} // namespace qm
