#include "notify/NotificationQueue.h"

#include "notify/DesktopNotifierDbus.h"
#include "platform/OperatorPrompt.h"
#include "platform/SoundPlayer.h"
#include "platform/ThreadId.h"
#include "probes/ProbeSocket.h"
#include "probes/ResultSink.h"
#include "tools/TraceRoute.h"

#include <QLoggingCategory>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>

Q_LOGGING_CATEGORY(lcNotify, "quillmere.notify")

namespace qm {

namespace {
// Forwards reports to the engine until it is cut off at stop: a thread left
// to finish on its own can no longer reach an engine that is gone.
class GuardedSink final : public ResultSink
{
public:
    explicit GuardedSink(ResultSink& target) : m_target(&target) {}

    void reportSuccess(uint32_t threadId, std::unique_ptr<ProbeResult> result) override
    {
        std::lock_guard lock(m_mutex);
        if (m_target)
            m_target->reportSuccess(threadId, std::move(result));
    }
    void reportFailure(uint32_t threadId, std::unique_ptr<ProbeResult> result) override
    {
        std::lock_guard lock(m_mutex);
        if (m_target)
            m_target->reportFailure(threadId, std::move(result));
    }
    void cut()
    {
        std::lock_guard lock(m_mutex);
        m_target = nullptr;
    }

private:
    std::mutex m_mutex;
    ResultSink* m_target;
};
} // namespace

struct NotificationQueue::Shared
{
    Shared(ResultSink& target, OperatorPrompt& operatorPrompt, NotificationQueueOptions opts,
           CallerRelay::Handle creator, const DesktopFallback* fallback)
        : options(std::move(opts)), sink(target), prompt(&operatorPrompt),
          desktopFallback(fallback), relay(std::move(creator)), sound(options.soundDevice)
    {
    }

    const NotificationQueueOptions options;
    GuardedSink sink;
    OperatorPrompt* const prompt;
    // The queue's fallback: read on the creating thread only, by calls posted
    // through the relay, which lives no longer than the queue.
    const DesktopFallback* const desktopFallback;
    // To the thread that created the queue; cut when the queue stops.
    const CallerRelay::Handle relay;

    std::mutex mutex; // guards the fields below
    std::condition_variable wake;
    std::deque<Notification> queue;
    std::string running; // what the running notification is, for pending()
    bool busy = false;
    bool stopping = false;
    bool draining = false; // finish(): the thread ends once the queue is empty
    bool finished = false;

    // Used by the notification thread only.
    SoundPlayer sound;
    bool noAudioReported = false;
    std::unique_ptr<DesktopNotifier> desktop;
    bool desktopMade = false;

    bool isStopping()
    {
        std::lock_guard lock(mutex);
        return stopping;
    }

    // Shows the text through the operator prompt on the thread that created
    // the queue; the notification thread does not wait for it.
    void tellOperator(const std::string& text)
    {
        relay.post([target = prompt, text] { target->inform(OperatorPrompt::Icon::Warning, text); });
    }

    // Hands a desktop notification back to the creating thread's fallback.
    void handToFallback(const QString& summary, const QString& body)
    {
        relay.post([fallback = desktopFallback, summary, body] {
            if (*fallback)
                (*fallback)(summary, body);
        });
    }

    void showOnDesktop(const Notification& n)
    {
        if (!desktopMade) {
            desktopMade = true;
            if (options.makeDesktopNotifier)
                desktop = options.makeDesktopNotifier();
            else
                desktop = std::make_unique<DesktopNotifierDbus>();
        }
        const DesktopMessage message{n.desktopSummary, n.desktopBody, n.kind == Notification::Down};
        if (!desktop || !desktop->show(message))
            handToFallback(message.summary, message.body);
    }

    void page(const Notification& n)
    {
        PagerDialer dialer(options.pagerTimings);
        dialer.Attach(n.modemDevice);
        dialer.Dial(n.pagerSequence);
        {
            std::unique_lock lock(mutex);
            wake.wait_for(lock, std::chrono::milliseconds(options.pagerHoldMs),
                          [this] { return stopping; });
        }
        dialer.HangUp();
    }

    void playSound(const QString& file)
    {
        const SoundPlayer::Start start = sound.play(file.toStdString());
        switch (start.outcome) {
        case SoundPlayer::Outcome::Started:
            noAudioReported = false;
            break;
        case SoundPlayer::Outcome::FileNotPlayable:
            qCWarning(lcNotify).noquote()
                << file << "cannot be played:" << QString::fromStdString(start.reason);
            tellOperator("Error playing sound file: " + file.toStdString());
            break;
        case SoundPlayer::Outcome::NoAudioOutput:
            // Told once: on a machine without audio every sound would say it.
            if (!noAudioReported) {
                noAudioReported = true;
                tellOperator("Error playing sound file: " + file.toStdString() +
                             ": no audio output (" + start.reason +
                             "); further sounds are not played");
            }
            break;
        }
    }

    void mail(const Notification& n)
    {
        ProbeSocket probe(sink);
        std::string body = n.body.toStdString();
        if (n.kind == Notification::Down && !n.traceRouteHost.isEmpty())
            body += "\n\n" + TraceRouteReport(probe, n.traceRouteHost.toStdString());
        if (isStopping())
            return;
        SendAlertMail(probe, n.mailServer.toStdString(), n.mailTo.toStdString(),
                      n.mailFrom.toStdString(), n.subject.toStdString(), body, options.mailPort);
    }

    void deliver(const Notification& n)
    {
        if (n.desktop)
            showOnDesktop(n);
        if (n.kind == Notification::Down && n.page && !isStopping())
            page(n);
        if (n.sound && !isStopping())
            playSound(n.soundFile);
        if (n.mail && !isStopping())
            mail(n);
    }
};

NotificationQueue::NotificationQueue(ResultSink& sink, OperatorPrompt& prompt,
                                     NotificationQueueOptions options)
    : m_relay(std::make_unique<CallerRelay>())
{
    m_shared = std::make_shared<Shared>(sink, prompt, std::move(options), m_relay->handle(),
                                        &m_desktopFallback);
    std::promise<uint32_t> started;
    auto id = started.get_future();
    m_thread = std::thread([shared = m_shared, started = std::move(started)]() mutable {
        started.set_value(CurrentThreadId());
        Run(shared);
    });
    m_threadId = id.get();
}

NotificationQueue::~NotificationQueue()
{
    stop();
}

void NotificationQueue::notify(const Notification& notification)
{
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->stopping || m_shared->draining)
            return;
        m_shared->queue.push_back(notification);
    }
    m_shared->wake.notify_all();
}

std::size_t NotificationQueue::backlog() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->queue.size() + (m_shared->busy ? 1 : 0);
}

bool NotificationQueue::stop(int graceMs)
{
    if (!m_thread.joinable())
        return true;
    bool ended;
    {
        std::unique_lock lock(m_shared->mutex);
        m_shared->stopping = true;
        m_shared->queue.clear();
        m_shared->wake.notify_all();
        ended = m_shared->wake.wait_for(lock, std::chrono::milliseconds(graceMs),
                                        [this] { return m_shared->finished; });
    }
    m_shared->sink.cut();
    m_relay.reset(); // discards prompts not shown yet
    if (ended) {
        m_thread.join();
    } else {
        qCWarning(lcNotify) << "a notification is still running at shutdown; it is left to finish";
        m_thread.detach();
    }
    return ended;
}

void NotificationQueue::drain()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->draining = true;
    }
    m_shared->wake.notify_all();
}

bool NotificationQueue::drained() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->finished || (m_shared->draining && m_shared->queue.empty() && !m_shared->busy);
}

std::vector<std::string> NotificationQueue::pending() const
{
    std::vector<std::string> lines;
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->busy)
        lines.push_back(m_shared->running);
    for (const Notification& n : m_shared->queue)
        lines.push_back(Describe(n));
    return lines;
}

std::string NotificationQueue::Describe(const Notification& n)
{
    std::string title = (!n.subject.isEmpty() ? n.subject : n.desktopSummary).toStdString();
    if (title.empty())
        title = n.kind == Notification::Down ? "HOST DOWN" : "HOST UP";
    std::vector<std::string> channels;
    if (n.desktop)
        channels.push_back("desktop notification");
    if (n.page && n.kind == Notification::Down)
        channels.push_back("pager call " + n.pagerSequence.toStdString());
    if (n.sound)
        channels.push_back("sound " + n.soundFile.toStdString());
    if (n.mail)
        channels.push_back("mail to " + n.mailTo.toStdString() + " via " +
                           n.mailServer.toStdString());
    std::string text = title + " (";
    for (std::size_t i = 0; i < channels.size(); ++i)
        text += (i ? ", " : "") + channels[i];
    return text + ")";
}

bool NotificationQueue::finish(int graceMs)
{
    if (!m_thread.joinable())
        return true;
    drain();
    bool allDone;
    {
        std::unique_lock lock(m_shared->mutex);
        allDone = m_shared->wake.wait_for(lock, std::chrono::milliseconds(graceMs),
                                          [this] { return m_shared->finished; }) ||
                  (m_shared->queue.empty() && !m_shared->busy);
    }
    // When all is done the thread has ended or is just ending; otherwise the
    // time is used up and whatever still runs is cut off without more waiting.
    stop(allDone ? kStopGraceMs : 0);
    return allDone;
}

void NotificationQueue::Run(std::shared_ptr<Shared> shared)
{
    for (;;) {
        Notification next;
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] {
                return shared->stopping || shared->draining || !shared->queue.empty();
            });
            if (shared->stopping || shared->queue.empty())
                break;
            next = std::move(shared->queue.front());
            shared->queue.pop_front();
            shared->running = Describe(next);
            shared->busy = true;
        }
        shared->deliver(next);
        std::lock_guard lock(shared->mutex);
        shared->busy = false;
    }
    {
        std::lock_guard lock(shared->mutex);
        shared->finished = true;
    }
    shared->wake.notify_all();
}

} // namespace qm
