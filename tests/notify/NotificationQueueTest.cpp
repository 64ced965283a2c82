#include "notify/NotificationQueue.h"

#include "support/MaildirSmtpServer.h"
#include "PtyModem.h"
#include "TestSounds.h"
#include "platform/OperatorPrompt.h"
#include "platform/ThreadId.h"
#include "support/RecordingSink.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <regex>
#include <sys/socket.h>
#include <thread>

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::ScriptedConnection;
using test::ScriptedServer;
using SteadyClock = std::chrono::steady_clock;

// Runs the main thread's event loop (where operator prompts are shown) until
// the condition holds or the time is up.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = SteadyClock::now() + timeout;
    while (!done()) {
        if (SteadyClock::now() >= deadline)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class RecordingPrompt : public OperatorPrompt
{
public:
    std::function<void()> onInform;

    void inform(Icon, const std::string& text) override
    {
        EXPECT_EQ(CurrentThreadId(), m_mainThread) << "prompt shown off the main thread";
        if (onInform)
            onInform();
        std::lock_guard lock(m_mutex);
        m_texts.push_back(text);
    }
    bool confirm(const std::string&) override { return false; }
    std::vector<std::string> texts() const
    {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }

private:
    const uint32_t m_mainThread = CurrentThreadId();
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

// A well-behaved SMTP server; `before` runs when a connection is accepted.
ScriptedServer::Script Smtp(std::function<void()> before = {})
{
    return [before](ScriptedConnection& c) {
        if (before)
            before();
        c.send("220 mx\r\n");
        for (int i = 0; i < 3; ++i) {
            c.receiveUntil("\r\n");
            c.send("250 ok\r\n");
        }
        c.receiveUntil("\r\n");
        c.send("354 go\r\n");
        c.receiveUntil("\r\n.\r\n");
        c.send("250 queued\r\n");
        c.receiveUntil("\r\n");
        c.send("221 bye\r\n");
    };
}

Notification Mail(Notification::Kind kind, const std::string& subject)
{
    Notification n;
    n.kind = kind;
    n.mail = true;
    n.mailServer = "127.0.0.1";
    n.mailTo = "ops@example.test";
    n.mailFrom = "monitor@example.test";
    n.subject = QString::fromStdString(subject);
    n.body = "Host: web1\n";
    return n;
}

NotificationQueueOptions QuickOptions(int mailPort)
{
    NotificationQueueOptions options;
    options.mailPort = mailPort;
    options.pagerHoldMs = 300;
    options.pagerTimings = PagerTimings{500, 20, 2000};
    return options;
}

TEST(NotificationQueueTest, DownRunsPagerThenSoundThenMail)
{
    test::PtyModem modem;
    RecordingPrompt prompt;
    std::atomic<bool> hungUpBeforePrompt{false};
    prompt.onInform = [&] { hungUpBeforePrompt = modem.sawCommand("ATH0"); };
    std::atomic<bool> promptBeforeMail{false}, hungUpBeforeMail{false};
    // The mail waits for the prompt: had the sound come after the mail, the
    // prompt could not appear and the wait would run out.
    ScriptedServer smtp(Smtp([&] {
        hungUpBeforeMail = modem.sawCommand("ATH0");
        const auto deadline = SteadyClock::now() + 5s;
        while (prompt.texts().empty() && SteadyClock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        promptBeforeMail = !prompt.texts().empty();
    }));
    test::RecordingSink sink;
    NotificationQueue queue(sink, prompt, QuickOptions(smtp.port()));
    test::ScratchDir dir;

    Notification n = Mail(Notification::Down, "HOST DOWN: web1");
    n.page = true;
    n.pagerSequence = "5551234";
    n.modemDevice = QString::fromStdString(modem.slavePath());
    n.sound = true;
    n.soundFile = QString::fromStdString(dir.path() + "/missing.wav");
    const auto start = SteadyClock::now();
    queue.notify(n);
    EXPECT_LT(SteadyClock::now() - start, 200ms);

    ASSERT_TRUE(PumpUntil([&] { return smtp.received().size() == 1; }, 30s));
    EXPECT_TRUE(modem.sawCommand("ATD5551234"));
    EXPECT_TRUE(hungUpBeforePrompt);
    EXPECT_TRUE(hungUpBeforeMail);
    EXPECT_TRUE(promptBeforeMail);
    EXPECT_EQ(prompt.texts(),
              std::vector<std::string>{"Error playing sound file: " + dir.path() + "/missing.wav"});
    EXPECT_NE(smtp.received()[0].find("Subject: HOST DOWN: web1\n"), std::string::npos);
}

TEST(NotificationQueueTest, NotifyReturnsAtOnceAndUpNeverPages)
{
    test::PtyModem modem;
    RecordingPrompt prompt;
    ScriptedServer slowSmtp(Smtp([] { std::this_thread::sleep_for(700ms); }));
    test::RecordingSink sink;
    NotificationQueue queue(sink, prompt, QuickOptions(slowSmtp.port()));

    const auto start = SteadyClock::now();
    for (const char* subject : {"HOST UP: a", "HOST UP: b", "HOST UP: c"}) {
        Notification n = Mail(Notification::Up, subject);
        n.page = true;
        n.pagerSequence = "5551234";
        n.modemDevice = QString::fromStdString(modem.slavePath());
        queue.notify(n);
    }
    EXPECT_LT(SteadyClock::now() - start, 200ms);
    EXPECT_EQ(queue.backlog(), 3u);

    ASSERT_TRUE(PumpUntil([&] { return slowSmtp.received().size() == 3; }, 30s));
    const auto mails = slowSmtp.received();
    EXPECT_NE(mails[0].find("Subject: HOST UP: a\n"), std::string::npos);
    EXPECT_NE(mails[1].find("Subject: HOST UP: b\n"), std::string::npos);
    EXPECT_NE(mails[2].find("Subject: HOST UP: c\n"), std::string::npos);
    EXPECT_TRUE(PumpUntil([&] { return queue.backlog() == 0; }, 2s));
    EXPECT_EQ(modem.received(), "");
    EXPECT_TRUE(sink.results().empty());
}

TEST(NotificationQueueTest, ReportsCarryTheQueueThreadAndNoAudioIsToldOnce)
{
    test::ScratchDir dir;
    const std::string wav = dir.file("alert.wav", test::WaveFile(8000, 1, 800));
    // A mail server that resets every connection: the mailer reports the
    // failed greeting read.
    ScriptedServer reset([](ScriptedConnection& c) {
        std::this_thread::sleep_for(200ms); // let the client's connect complete first
        const linger hard{1, 0};
        ::setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        c.close();
    });
    RecordingPrompt prompt;
    test::RecordingSink sink;
    NotificationQueueOptions options = QuickOptions(reset.port());
    options.soundDevice = "hw:97,0"; // an output that does not exist
    NotificationQueue queue(sink, prompt, options);

    for (int i = 0; i < 3; ++i) {
        Notification n = Mail(Notification::Up, "HOST UP: web1");
        n.sound = true;
        n.soundFile = QString::fromStdString(wav);
        queue.notify(n);
    }
    Notification bad;
    bad.kind = Notification::Up;
    bad.sound = true;
    bad.soundFile = QString::fromStdString(dir.path() + "/missing.wav");
    queue.notify(bad);
    queue.notify(bad);

    ASSERT_TRUE(sink.waitFor(test::RecordingSink::Report::Failure, 3, 30s));
    ASSERT_TRUE(PumpUntil([&] { return prompt.texts().size() >= 3 && queue.backlog() == 0; }, 10s));
    const auto texts = prompt.texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].rfind("Error playing sound file: " + wav + ": no audio output (", 0), 0u)
        << texts[0];
    EXPECT_EQ(texts[1], "Error playing sound file: " + dir.path() + "/missing.wav");
    EXPECT_EQ(texts[2], texts[1]);

    for (const auto& report : sink.results()) {
        EXPECT_EQ(report.result.message.rfind("Recvfrom failed: ", 0), 0u) << report.result.message;
        EXPECT_EQ(report.threadId, queue.threadId());
    }
    EXPECT_NE(queue.threadId(), CurrentThreadId());
}

TEST(NotificationQueueTest, StopIsBounded)
{
    RecordingPrompt prompt;
    test::RecordingSink sink;
    {
        // The pager's hold is cut short and the call still hung up.
        test::PtyModem modem;
        NotificationQueueOptions options = QuickOptions(25);
        options.pagerHoldMs = 60000;
        NotificationQueue queue(sink, prompt, options);
        Notification n;
        n.kind = Notification::Down;
        n.page = true;
        n.pagerSequence = "5551234";
        n.modemDevice = QString::fromStdString(modem.slavePath());
        queue.notify(n);
        ASSERT_TRUE(modem.waitForCommand("ATD", 5s));
        std::this_thread::sleep_for(700ms); // into the hold
        const auto start = SteadyClock::now();
        EXPECT_TRUE(queue.stop());
        EXPECT_LT(SteadyClock::now() - start, 3s);
        EXPECT_TRUE(modem.sawCommand("ATH0"));
    }
    {
        // A mail stuck on a silent server is left behind, cut off from the sink.
        std::atomic<bool> release{false};
        ScriptedServer stuck([&](ScriptedConnection& c) {
            const auto deadline = SteadyClock::now() + 10s;
            while (!release && SteadyClock::now() < deadline)
                std::this_thread::sleep_for(10ms);
            linger hard{1, 0}; // reset: the mailer's read fails and would be reported
            ::setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
            c.close();
        });
        NotificationQueue queue(sink, prompt, QuickOptions(stuck.port()));
        queue.notify(Mail(Notification::Up, "HOST UP: web1"));
        ASSERT_TRUE(PumpUntil([&] { return stuck.connections() == 1; }, 5s));
        const auto start = SteadyClock::now();
        EXPECT_FALSE(queue.stop(300));
        EXPECT_LT(SteadyClock::now() - start, 1s);
        queue.notify(Mail(Notification::Up, "HOST UP: ignored"));
        EXPECT_EQ(queue.backlog(), 1u); // only the stuck one
        release = true;
        // Once the server lets go, the stuck mail ends and its report goes nowhere.
        EXPECT_TRUE(PumpUntil([&] { return queue.backlog() == 0; }, 5s));
        EXPECT_EQ(stuck.connections(), 1);
    }
    EXPECT_TRUE(sink.results().empty());
}

TEST(NotificationQueueTest, FinishDeliversWhatIsQueuedWithinItsGrace)
{
    RecordingPrompt prompt;
    test::RecordingSink sink;
    {
        // Both mails queued before closing reach a real server.
        test::MaildirSmtpServer mta;
        ASSERT_EQ(mta.error(), "");
        NotificationQueue queue(sink, prompt, QuickOptions(mta.port()));
        queue.notify(Mail(Notification::Down, "HOST DOWN: a"));
        queue.notify(Mail(Notification::Up, "HOST UP: b"));
        EXPECT_TRUE(queue.finish(60000));
        EXPECT_EQ(queue.backlog(), 0u);
        EXPECT_EQ(mta.waitForMessages(2, 5s).size(), 2u) << mta.log();
        queue.notify(Mail(Notification::Up, "HOST UP: after"));
        EXPECT_EQ(queue.backlog(), 0u);
    }
    {
        // A server that holds the first mail: finish gives up at its grace and
        // the second mail is dropped.
        std::atomic<bool> release{false};
        ScriptedServer slow(Smtp([&] {
            const auto deadline = SteadyClock::now() + 10s;
            while (!release && SteadyClock::now() < deadline)
                std::this_thread::sleep_for(10ms);
        }));
        NotificationQueue queue(sink, prompt, QuickOptions(slow.port()));
        queue.notify(Mail(Notification::Up, "HOST UP: held"));
        queue.notify(Mail(Notification::Up, "HOST UP: dropped"));
        const auto start = SteadyClock::now();
        EXPECT_FALSE(queue.finish(400));
        const auto spent = SteadyClock::now() - start;
        EXPECT_GE(spent, 350ms);
        EXPECT_LT(spent, 1s);
        release = true;
        ASSERT_TRUE(PumpUntil([&] { return queue.backlog() == 0 && slow.received().size() == 1; }, 10s));
        EXPECT_EQ(slow.connections(), 1);
        EXPECT_NE(slow.received()[0].find("Subject: HOST UP: held\n"), std::string::npos);
    }
    EXPECT_TRUE(sink.results().empty());
}

// Splits a delivered message into its header lines and its body.
std::pair<std::vector<std::string>, std::string> SplitMessage(const std::string& message)
{
    const auto blank = message.find("\n\n");
    std::vector<std::string> headers;
    std::size_t at = 0;
    while (at < blank) {
        const auto end = message.find('\n', at);
        headers.push_back(message.substr(at, end - at));
        at = end + 1;
    }
    return {headers, blank == std::string::npos ? std::string() : message.substr(blank + 2)};
}

bool HasHeader(const std::vector<std::string>& headers, const std::string& line)
{
    return std::find(headers.begin(), headers.end(), line) != headers.end();
}

TEST(NotificationQueueTest, DownAndUpMailsThroughARealSmtpServer)
{
    test::MaildirSmtpServer mta;
    ASSERT_EQ(mta.error(), "");
    RecordingPrompt prompt;
    test::RecordingSink sink;
    NotificationQueue queue(sink, prompt, QuickOptions(mta.port()));

    Notification down = Mail(Notification::Down, "HOST DOWN: Web front (127.0.0.1)");
    down.body = "Host: 127.0.0.1\nNickname: Web front\nTime: Error\n";
    down.traceRouteHost = "127.0.0.1";
    queue.notify(down);
    Notification up = Mail(Notification::Up, "HOST UP: Web front (127.0.0.1)");
    up.body = "Host: 127.0.0.1\nNickname: Web front\n";
    up.traceRouteHost = "127.0.0.1"; // never used for an up mail
    queue.notify(up);

    const auto messages = mta.waitForMessages(2, 90s);
    ASSERT_EQ(messages.size(), 2u) << mta.log();
    bool sawDown = false, sawUp = false;
    for (const auto& message : messages) {
        const auto [headers, body] = SplitMessage(message);
        EXPECT_TRUE(HasHeader(headers, "From: monitor@example.test")) << message;
        EXPECT_TRUE(HasHeader(headers, "To: ops@example.test")) << message;
        EXPECT_TRUE(HasHeader(headers, "X-mailer: Kestrune")) << message;
        // The envelope as the server understood the bare MAIL FROM and RCPT TO.
        EXPECT_TRUE(HasHeader(headers, "X-MailFrom: monitor@example.test")) << message;
        EXPECT_TRUE(HasHeader(headers, "X-RcptTo: ops@example.test")) << message;
        const bool isDown = HasHeader(headers, "Subject: HOST DOWN: Web front (127.0.0.1)");
        if (isDown) {
            sawDown = true;
            const std::regex report("Host: 127\\.0\\.0\\.1\nNickname: Web front\nTime: Error\n\n\n"
                                    "Tracing Route to \\[127\\.0\\.0\\.1\\]\n={59}\n"
                                    "(TTL_\\d\\d\t[^\n]*\t\t\\[[^\n]*\\]\n)+\\s*");
            EXPECT_TRUE(std::regex_match(body, report)) << body;
        } else {
            sawUp = HasHeader(headers, "Subject: HOST UP: Web front (127.0.0.1)");
            EXPECT_TRUE(std::regex_match(
                body, std::regex("Host: 127\\.0\\.0\\.1\nNickname: Web front\n\\s*")))
                << body;
        }
    }
    EXPECT_TRUE(sawDown);
    EXPECT_TRUE(sawUp);
}

} // namespace
} // namespace qm
