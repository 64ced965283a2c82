#pragma once

#include "notify/AlertMailer.h"
#include "notify/CallerRelay.h"
#include "notify/DesktopNotifier.h"
#include "notify/Notifier.h"
#include "notify/PagerDialer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qm {

class OperatorPrompt;
class ResultSink;

struct NotificationQueueOptions
{
    int mailPort = kSmtpPort; // tests point the mail elsewhere
    int pagerHoldMs = 10000;  // the call is held this long after Dial returns
    PagerTimings pagerTimings;
    std::string soundDevice = "default"; // ALSA output
    // Makes the desktop notifier, on the notification thread, at the first
    // desktop notification. Unset: the notification service on the session
    // bus. It may give null: then every desktop notification goes to the
    // fallback.
    std::function<std::unique_ptr<DesktopNotifier>()> makeDesktopNotifier;
};

// Shows a desktop notification some other way (the tray icon's message) when
// the notification service cannot; called on the thread that created the queue.
using DesktopFallback = std::function<void(const QString& summary, const QString& body)>;

// Runs the notifications one after the other on a thread of its own, so the
// desktop notification, the pager call, the trace route and the mail never
// hold the main thread and results keep flowing meanwhile: for a down the
// desktop notification, the pager call (Attach, Dial, hold, HangUp), then the
// sound, then the mail with the trace route appended; for an up the desktop
// notification, the sound and the mail. A desktop notification that the
// notification service does not take is handed back to the creating thread's
// fallback, when one is set.
//
// Failures that the mailer and the trace route report go to `sink` with this
// thread's identifier, which matches no host row. Operator messages about the
// sound (a file that cannot be played; once, that there is no audio output)
// are handed back to the thread that created the queue and shown there through
// `prompt` by its event loop. `sink` and `prompt` must outlive the queue.
class NotificationQueue final : public Notifier
{
public:
    static constexpr int kStopGraceMs = 5000;

    NotificationQueue(ResultSink& sink, OperatorPrompt& prompt,
                      NotificationQueueOptions options = {});
    ~NotificationQueue() override;
    NotificationQueue(const NotificationQueue&) = delete;
    NotificationQueue& operator=(const NotificationQueue&) = delete;

    // Queues the notification and returns at once. Ignored after stop() and
    // finish().
    void notify(const Notification& notification) override;

    // Drops what has not started, cuts the pager's hold short and waits at most
    // graceMs for the notification in progress. When that is not enough (a
    // mail or trace route still waiting on the network) the thread is left to
    // finish on its own, cut off from the sink and the prompt. True when the
    // thread had ended. Called by the destructor.
    bool stop(int graceMs = kStopGraceMs);

    // For closing the program: takes no new notifications, lets everything
    // already queued run to its end (the pager's hold included), waiting at
    // most graceMs in all; what is not done by then is dropped or cut off as
    // stop() does. True when everything queued was done.
    bool finish(int graceMs);

    // finish() without the wait, for a caller that keeps its event loop
    // running: takes no new notifications and lets the thread end once it has
    // run everything queued. drained() tells when that is done; stop() gives
    // up on the rest.
    void drain();
    bool drained() const;

    // One line per notification not finished yet, the running one first:
    // "HOST DOWN: web1 (pager call, mail to ops@example.org)".
    std::vector<std::string> pending() const;
    static std::string Describe(const Notification& notification);

    // Where desktop notifications go when the notification service cannot
    // show them (no session bus, no service, no answer in time). Set on the
    // thread that created the queue; an empty function drops them.
    void setDesktopFallback(DesktopFallback fallback) { m_desktopFallback = std::move(fallback); }

    // The notification thread's identifier, as its reports carry it.
    uint32_t threadId() const { return m_threadId; }
    // Notifications queued and not finished yet (the running one included).
    std::size_t backlog() const;

private:
    struct Shared;
    static void Run(std::shared_ptr<Shared> shared);

    DesktopFallback m_desktopFallback;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<CallerRelay> m_relay;
    std::thread m_thread;
    uint32_t m_threadId = 0;
};

} // namespace qm
