#include "notify/NotificationQueue.h"

#include "PtyModem.h"
#include "ScriptedSmtp.h"
#include "TestSounds.h"
#include "platform/ThreadId.h"
#include "support/EventPump.h"
#include "support/MaildirSmtpServer.h"
#include "support/RecordingPrompt.h"
#include "support/RecordingSink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <semaphore>
#include <thread>
#include <utility>

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::PumpEventsUntil;
using test::ScriptedServer;
using test::ScriptedSmtp;
using test::SmtpAccepting;
using SteadyClock = std::chrono::steady_clock;

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

Notification Paging(Notification n, const test::PtyModem& modem)
{
    n.page = true;
    n.pagerSequence = "5551234";
    n.modemDevice = QString::fromStdString(modem.slavePath());
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

// Operator messages are shown on the thread that made the queue: this one.
void ExpectShownHere(const test::ScriptedPrompt& prompt)
{
    for (const auto& m : prompt.messages())
        EXPECT_EQ(m.thread, std::this_thread::get_id()) << "shown off the main thread: " << m.text;
}

TEST(NotificationQueueTest, DownRunsPagerThenSoundThenMail)
{
    test::PtyModem modem;
    test::ScriptedPrompt prompt;
    std::binary_semaphore promptShown{0};
    std::atomic<bool> promptBeforeMail{false}, hungUpBeforeMail{false};
    // The mail waits for the prompt: had the sound come after the mail, the
    // prompt could not appear and the wait would run out.
    ScriptedServer smtp(ScriptedSmtp(SmtpAccepting(), [&] {
        hungUpBeforeMail = modem.sawCommand("ATH0");
        promptBeforeMail = promptShown.try_acquire_for(5s);
    }));
    test::RecordingSink sink;
    NotificationQueue queue(sink, prompt, QuickOptions(smtp.port()));
    QTemporaryDir dir;

    Notification n = Paging(Mail(Notification::Down, "HOST DOWN: web1"), modem);
    n.sound = true;
    n.soundFile = dir.filePath("missing.wav");
    const auto start = SteadyClock::now();
    queue.notify(n);
    EXPECT_LT(SteadyClock::now() - start, 200ms);

    // Whether the modem had hung up when the prompt came.
    bool hungUpBeforePrompt = false, shown = false;
    ASSERT_TRUE(PumpEventsUntil(
        [&] {
            if (prompt.messages().empty())
                hungUpBeforePrompt = modem.sawCommand("ATH0");
            else if (!std::exchange(shown, true))
                promptShown.release();
            return smtp.received().size() == 1;
        },
        30s));
    EXPECT_TRUE(modem.sawCommand("ATD5551234"));
    EXPECT_TRUE(hungUpBeforePrompt);
    EXPECT_TRUE(hungUpBeforeMail);
    EXPECT_TRUE(promptBeforeMail);
    EXPECT_EQ(prompt.texts(), std::vector<std::string>{"Error playing sound file: " + n.soundFile.toStdString()});
    ExpectShownHere(prompt);
    EXPECT_NE(smtp.received()[0].find("Subject: HOST DOWN: web1\n"), std::string::npos);
}

TEST(NotificationQueueTest, NotifyReturnsAtOnceAndUpNeverPages)
{
    test::PtyModem modem;
    test::ScriptedPrompt prompt;
    // Every mail is held until the test has seen all three queued.
    std::counting_semaphore<3> release{0};
    ScriptedServer smtp(ScriptedSmtp(SmtpAccepting(), [&] { release.try_acquire_for(10s); }));
    test::RecordingSink sink;
    NotificationQueue queue(sink, prompt, QuickOptions(smtp.port()));

    const auto start = SteadyClock::now();
    for (const char* subject : {"HOST UP: a", "HOST UP: b", "HOST UP: c"})
        queue.notify(Paging(Mail(Notification::Up, subject), modem));
    EXPECT_LT(SteadyClock::now() - start, 200ms);
    EXPECT_EQ(queue.backlog(), 3u);
    release.release(3);

    ASSERT_TRUE(PumpEventsUntil([&] { return smtp.received().size() == 3; }, 30s));
    const auto mails = smtp.received();
    for (std::size_t i = 0; i < 3; ++i) // in the order queued
        EXPECT_NE(mails[i].find(std::string("Subject: HOST UP: ") + "abc"[i] + "\n"), std::string::npos) << i;
    EXPECT_TRUE(PumpEventsUntil([&] { return queue.backlog() == 0; }, 2s));
    EXPECT_EQ(modem.received(), "");
    EXPECT_TRUE(sink.results().empty());
}

TEST(NotificationQueueTest, ReportsCarryTheQueueThreadAndNoAudioIsToldOnce)
{
    QTemporaryDir dir;
    const std::string wav = test::ScratchFile(dir, "alert.wav", test::WaveFile(8000, 1, 800));
    ScriptedServer reset(test::ResetAfterHelo); // the mailer reports the failed read
    test::ScriptedPrompt prompt;
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
    bad.soundFile = dir.filePath("missing.wav");
    queue.notify(bad);
    queue.notify(bad);

    ASSERT_TRUE(sink.waitFor(test::RecordingSink::Report::Failure, 3, 30s));
    ASSERT_TRUE(PumpEventsUntil([&] { return prompt.messages().size() >= 3 && queue.backlog() == 0; }, 10s));
    const auto texts = prompt.texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].rfind("Error playing sound file: " + wav + ": no audio output (", 0), 0u) << texts[0];
    EXPECT_EQ(texts[1], "Error playing sound file: " + bad.soundFile.toStdString());
    EXPECT_EQ(texts[2], texts[1]);
    ExpectShownHere(prompt);

    for (const auto& report : sink.results()) {
        EXPECT_EQ(report.result.message.rfind("Recvfrom failed: ", 0), 0u) << report.result.message;
        EXPECT_EQ(report.threadId, queue.threadId());
    }
    EXPECT_NE(queue.threadId(), CurrentThreadId());
}

TEST(NotificationQueueTest, StopAndFinishAreBounded)
{
    test::ScriptedPrompt prompt;
    test::RecordingSink sink;
    {
        // The pager's hold is cut short and the call still hung up. The hold
        // looks for the stop before it waits, so a stop that comes before
        // the hold has begun cuts it short too.
        test::PtyModem modem;
        NotificationQueueOptions options = QuickOptions(25);
        options.pagerHoldMs = 60000;
        options.pagerTimings.callSetupMs = 0;
        NotificationQueue queue(sink, prompt, options);
        Notification n;
        n.kind = Notification::Down;
        queue.notify(Paging(n, modem));
        ASSERT_TRUE(modem.waitForCommand("ATD", 5s));
        const auto start = SteadyClock::now();
        EXPECT_TRUE(queue.stop());
        EXPECT_LT(SteadyClock::now() - start, 3s);
        EXPECT_TRUE(modem.sawCommand("ATH0"));
    }
    {
        // A mail stuck on a silent server is left behind, cut off from the sink.
        std::binary_semaphore release{0};
        ScriptedServer stuck([&](test::ScriptedConnection& c) {
            release.try_acquire_for(10s);
            test::ResetAfterHelo(c); // the mailer's read fails and would be reported
        });
        NotificationQueue queue(sink, prompt, QuickOptions(stuck.port()));
        queue.notify(Mail(Notification::Up, "HOST UP: web1"));
        ASSERT_TRUE(PumpEventsUntil([&] { return stuck.connections() == 1; }, 5s));
        const auto start = SteadyClock::now();
        EXPECT_FALSE(queue.stop(300));
        EXPECT_LT(SteadyClock::now() - start, 1s);
        queue.notify(Mail(Notification::Up, "HOST UP: ignored"));
        EXPECT_EQ(queue.backlog(), 1u); // only the stuck one
        release.release();
        // Once the server lets go, the stuck mail ends and its report goes nowhere.
        EXPECT_TRUE(PumpEventsUntil([&] { return queue.backlog() == 0; }, 5s));
        EXPECT_EQ(stuck.connections(), 1);
    }
    {
        // A server that holds the first mail: finish gives up at its grace and
        // the second mail is dropped.
        std::binary_semaphore release{0};
        ScriptedServer slow(ScriptedSmtp(SmtpAccepting(), [&] { release.try_acquire_for(10s); }));
        NotificationQueue queue(sink, prompt, QuickOptions(slow.port()));
        queue.notify(Mail(Notification::Up, "HOST UP: held"));
        Notification dropped = Mail(Notification::Up, "HOST UP: dropped");
        dropped.desktop = dropped.sound = true;
        dropped.soundFile = "/tmp/up.wav";
        queue.notify(dropped);
        ASSERT_TRUE(PumpEventsUntil([&] { return slow.connections() == 1; }, 5s));
        EXPECT_EQ(queue.pending(),
                  (std::vector<std::string>{
                      "HOST UP: held (mail to ops@example.test via 127.0.0.1)",
                      "HOST UP: dropped (desktop notification, sound /tmp/up.wav, mail to "
                      "ops@example.test via 127.0.0.1)"}));
        const auto start = SteadyClock::now();
        EXPECT_FALSE(queue.finish(400));
        const auto spent = SteadyClock::now() - start;
        EXPECT_GE(spent, 350ms);
        EXPECT_LT(spent, 1s);
        release.release();
        ASSERT_TRUE(PumpEventsUntil([&] { return queue.backlog() == 0 && slow.received().size() == 1; }, 10s));
        EXPECT_EQ(slow.connections(), 1);
        EXPECT_NE(slow.received()[0].find("Subject: HOST UP: held\n"), std::string::npos);
    }
    EXPECT_TRUE(sink.results().empty());
}

TEST(NotificationQueueTest, DownAndUpMailsThroughARealSmtpServerBeforeTheDrainEnds)
{
    test::MaildirSmtpServer mta;
    ASSERT_EQ(mta.error(), "");
    test::ScriptedPrompt prompt;
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
    // Draining delivers what was queued, with the event loop running, and
    // takes nothing after.
    queue.drain();
    EXPECT_TRUE(PumpEventsUntil([&] { return queue.drained(); }, 60s));
    EXPECT_EQ(queue.backlog(), 0u);
    queue.notify(Mail(Notification::Up, "HOST UP: after"));
    EXPECT_EQ(queue.backlog(), 0u);

    const auto messages = mta.waitForMessages(2, 10s);
    ASSERT_EQ(messages.size(), 2u) << mta.log();
    const std::pair<std::string, std::string> expected[] = { // subject, body; in the order queued
        {"HOST DOWN: Web front (127.0.0.1)",
         "Host: 127\\.0\\.0\\.1\nNickname: Web front\nTime: Error\n\n\nTracing Route to \\[127\\.0\\.0\\.1\\]\n"
         "={59}\n(TTL_\\d\\d\t[^\n]*\t\t\\[[^\n]*\\]\n)+\\s*"},
        {"HOST UP: Web front (127.0.0.1)", "Host: 127\\.0\\.0\\.1\nNickname: Web front\n\\s*"}};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string& message = messages[i];
        const std::size_t blank = message.find("\n\n");
        ASSERT_NE(blank, std::string::npos) << message;
        const std::string headers = "\n" + message.substr(0, blank + 1);
        // X-MailFrom and X-RcptTo: the envelope as the server understood the
        // bare MAIL FROM and RCPT TO.
        const std::string lines[] = {"From: monitor@example.test", "To: ops@example.test", "X-mailer: Kestrune",
                                     "X-MailFrom: monitor@example.test", "X-RcptTo: ops@example.test",
                                     "Subject: " + expected[i].first};
        for (const std::string& line : lines)
            EXPECT_NE(headers.find("\n" + line + "\n"), std::string::npos) << line << "\n" << message;
        EXPECT_TRUE(std::regex_match(message.substr(blank + 2), std::regex(expected[i].second))) << message;
    }
}

} // namespace
} // namespace qm
