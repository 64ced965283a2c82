#include "notify/NotificationTester.h"

#include "platform/SoundPlayer.h"
#include "probes/ProbeSocket.h"
#include "probes/ResultSink.h"

#include <cstdio>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qm {

namespace {
// Keeps the failures the mailer reports, to show them to the operator.
class ReportList final : public ResultSink
{
public:
    void reportSuccess(uint32_t, std::unique_ptr<ProbeResult>) override {}
    void reportFailure(uint32_t, std::unique_ptr<ProbeResult> result) override
    {
        if (result)
            texts.push_back(result->message);
    }
    std::vector<std::string> texts;
};
} // namespace

struct NotificationTester::Shared
{
    explicit Shared(NotificationTesterOptions opts) : options(std::move(opts)), sound(options.soundDevice) {}

    const NotificationTesterOptions options;
    std::mutex mutex; // guards the fields below
    std::condition_variable wake;
    Action action;
    Done done;
    CallerRelay::Handle relay;
    bool busy = false;
    bool stopping = false;
    bool finished = false;

    SoundPlayer sound; // used by the tester's thread only
};

NotificationTester::NotificationTester(NotificationTesterOptions options)
    : m_shared(std::make_shared<Shared>(std::move(options)))
{
    m_shared->relay = m_relay.handle();
    m_thread = std::thread([shared = m_shared] { Run(shared); });
}

NotificationTester::~NotificationTester()
{
    // Never waits for a test under way (a mail server that does not answer):
    // the thread owns what it uses, and its report goes nowhere once the
    // relay is gone with us.
    bool ended;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stopping = true;
        m_shared->wake.notify_all();
        ended = m_shared->finished;
    }
    if (ended)
        m_thread.join();
    else
        m_thread.detach();
}

bool NotificationTester::busy() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->busy;
}

bool NotificationTester::start(Action action, Done done)
{
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->busy || m_shared->stopping)
            return false;
        m_shared->busy = true;
        m_shared->action = std::move(action);
        m_shared->done = std::move(done);
    }
    m_shared->wake.notify_all();
    return true;
}

bool NotificationTester::playSound(const QString& file, Done done)
{
    return start(
        [path = file.toStdString()](Shared& s) {
            const SoundPlayer::Start started = s.sound.play(path);
            std::vector<std::string> reports;
            if (started.outcome == SoundPlayer::Outcome::NoAudioOutput)
                std::fprintf(stderr, "quillmere: no audio output: %s\n", started.reason.c_str());
            if (started.outcome == SoundPlayer::Outcome::FileNotPlayable
                || started.outcome == SoundPlayer::Outcome::NoAudioOutput)
                reports.push_back("Error playing sound file: " + path);
            return reports;
        },
        std::move(done));
}

bool NotificationTester::sendTestMail(const QString& server, const QString& to, const QString& from,
                                      Done done)
{
    return start(
        [server = server.toStdString(), to = to.toStdString(), from = from.toStdString()](Shared& s) {
            ReportList reports;
            ProbeSocket probe(reports);
            SendAlertMail(probe, server, to, from, kTestMailSubject, kTestMailBody, s.options.mailPort);
            return reports.texts;
        },
        std::move(done));
}

bool NotificationTester::callPager(const QString& modemDevice, const QString& sequence, Done done)
{
    return start(
        [modemDevice, sequence](Shared& s) {
            std::vector<std::string> reports;
            PagerDialer dialer(s.options.pagerTimings);
            dialer.Attach(modemDevice);
            if (dialer.Dial(sequence) < 0)
                reports.push_back(sequence.isEmpty()
                                      ? std::string("The pager call was not placed: the pager number sequence is empty.")
                                      : "The pager call could not be placed through the modem \"" +
                                            modemDevice.toStdString() + "\".");
            {
                std::unique_lock lock(s.mutex);
                s.wake.wait_for(lock, std::chrono::milliseconds(s.options.pagerHoldMs),
                                [&s] { return s.stopping; });
            }
            dialer.HangUp();
            return reports;
        },
        std::move(done));
}

void NotificationTester::Run(std::shared_ptr<Shared> shared)
{
    for (;;) {
        Action action;
        Done done;
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] { return shared->stopping || shared->action; });
            if (shared->stopping)
                break;
            action = std::move(shared->action);
            shared->action = nullptr;
            done = std::move(shared->done);
        }
        std::vector<std::string> reports = action(*shared);
        {
            std::lock_guard lock(shared->mutex);
            shared->busy = false;
        }
        if (done)
            shared->relay.post([done = std::move(done), reports = std::move(reports)] { done(reports); });
    }
    {
        std::lock_guard lock(shared->mutex);
        shared->finished = true;
    }
    shared->wake.notify_all();
}

} // namespace qm
