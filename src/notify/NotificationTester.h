#pragma once

#include "notify/AlertMailer.h"
#include "notify/CallerRelay.h"
#include "notify/PagerDialer.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qm {

// The test message of the notification pages.
inline constexpr const char* kTestMailSubject = "Kestrune Error Notification Test";
inline constexpr const char* kTestMailBody = "THIS IS JUST A TEST";

struct NotificationTesterOptions
{
    int mailPort = kSmtpPort; // tests point the mail elsewhere
    int pagerHoldMs = 10000;  // the call is held this long after Dial returns
    PagerTimings pagerTimings;
    std::string soundDevice = "default"; // ALSA output
};

// Runs the test actions of the notification pages (play the sound, send the
// test mail, call the pager) one at a time on a thread of its own, so the
// window never waits for a server or a modem. Each action ends by handing its
// reports back to the thread that created the tester, through that thread's
// event loop: the failures the mailer reports, why the sound could not be
// played, why the pager call could not be placed; none when all went well.
class NotificationTester
{
public:
    using Done = std::function<void(const std::vector<std::string>& reports)>;

    explicit NotificationTester(NotificationTesterOptions options = {});
    // Cuts a pager hold short and waits a little for the running action; one
    // still waiting on the network is left to end on its own, unheard. A
    // sound still playing stops.
    ~NotificationTester();
    NotificationTester(const NotificationTester&) = delete;
    NotificationTester& operator=(const NotificationTester&) = delete;

    // Each starts its action and returns at once; false, with nothing
    // started, while another action runs. `done` is called on the creating
    // thread unless the tester is gone by then.
    bool playSound(const QString& file, Done done);
    bool sendTestMail(const QString& server, const QString& to, const QString& from, Done done);
    bool callPager(const QString& modemDevice, const QString& sequence, Done done);

    bool busy() const;

private:
    struct Shared;
    using Action = std::function<std::vector<std::string>(Shared&)>;
    bool start(Action action, Done done);
    static void Run(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> m_shared;
    CallerRelay m_relay;
    std::thread m_thread;
};

} // namespace qm
