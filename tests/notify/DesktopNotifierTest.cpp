// Desktop notifications from the notification thread to a notification
// service on a private D-Bus that the test starts, and the fallback when the
// service cannot take them.

#include "notify/DesktopNotifierDbus.h"
#include "notify/NotificationQueue.h"
#include "platform/ThreadId.h"
#include "support/EventPump.h"
#include "support/RecordingPrompt.h"
#include "support/RecordingSink.h"
#include "support/ServerProcess.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qm {
namespace {

using namespace std::chrono_literals;

// A dbus-daemon of our own with a socket in a temporary folder and nothing
// to activate.
class PrivateBus
{
public:
    PrivateBus() : m_address("unix:path=" + m_dir.filePath("bus"))
    {
        const std::string config = m_dir.filePath("bus.conf").toStdString();
        test::WriteFile(config, "<busconfig><type>session</type><listen>" + m_address.toStdString() +
                                    "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                    "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        m_error = test::RequireProgram("/usr/bin/dbus-daemon", "dbus-daemon");
        if (m_error.empty() &&
            !(m_daemon.start({"/usr/bin/dbus-daemon", "--nofork", "--config-file=" + config},
                             m_dir.filePath("daemon.log").toStdString()) &&
              test::PumpEventsUntil([&] { return Accepts(); }, 5s)))
            m_error = "dbus-daemon did not start: " + m_daemon.log();
    }

    const std::string& error() const { return m_error; }
    const QString& address() const { return m_address; }

private:
    // Started once it takes a connection: its socket exists from the bind on.
    bool Accepts() const
    {
        const QString name = QStringLiteral("bus-ready-check");
        const bool connected = QDBusConnection::connectToBus(m_address, name).isConnected();
        QDBusConnection::disconnectFromBus(name);
        return connected;
    }

    QTemporaryDir m_dir;
    QString m_address;
    test::ServerProcess m_daemon;
    std::string m_error;
};

// The notification service: records the calls it gets (on the main thread)
// and answers Notify unless told to keep silent.
class FakeNotificationService final : public QDBusVirtualObject
{
public:
    explicit FakeNotificationService(const QString& address)
        : m_bus(QDBusConnection::connectToBus(address, QStringLiteral("fake-notification-service")))
    {
        m_bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), this);
        m_registered = m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~FakeNotificationService() override
    {
        m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(m_bus.name());
    }

    bool registered() const { return m_registered; }
    void unregister() { m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications")); }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        EXPECT_EQ(CurrentThreadId(), m_mainThread);
        if (message.member() == QLatin1String("GetCapabilities")) {
            connection.send(message.createReply(
                QStringList{QStringLiteral("body"), QStringLiteral("body-markup")}));
            return true;
        }
        notifyCalls.push_back(message.arguments());
        if (!silent)
            connection.send(message.createReply(uint(notifyCalls.size())));
        return true;
    }
    QString introspect(const QString&) const override { return {}; }

    bool silent = false;
    std::vector<QVariantList>
        notifyCalls; // app name, id, icon, summary, body, actions, hints, timeout

private:
    const uint32_t m_mainThread = CurrentThreadId();
    QDBusConnection m_bus;
    bool m_registered = false;
};

Notification Desktop(Notification::Kind kind, const QString& summary, const QString& body)
{
    Notification n;
    n.kind = kind;
    n.desktop = true;
    n.desktopSummary = summary;
    n.desktopBody = body;
    return n;
}

struct Fallback
{
    std::vector<std::pair<QString, QString>> shown;
    uint32_t thread = 0;
    DesktopFallback function()
    {
        return [this](const QString& summary, const QString& body) {
            thread = CurrentThreadId();
            shown.emplace_back(summary, body);
        };
    }
};

class DesktopNotifierTest : public ::testing::Test
{
protected:
    test::RecordingSink m_sink;
    test::ScriptedPrompt m_prompt;
    PrivateBus m_bus;
};

TEST_F(DesktopNotifierTest, DownAndUpReachTheServiceOfTheSessionBusAndUnsetSendsNothing)
{
    ASSERT_EQ(m_bus.error(), "");
    FakeNotificationService service(m_bus.address());
    ASSERT_TRUE(service.registered());
    // The queue's own notifier, on the session bus that the environment names.
    const QByteArray previous = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address().toUtf8());
    Fallback fallback;
    {
        NotificationQueue queue(m_sink, m_prompt);
        queue.setDesktopFallback(fallback.function());
        queue.notify(Desktop(Notification::Down, "HOST DOWN: web (10.0.0.8)",
                             "HTTP port 80\n<title> & more"));
        Notification off = Desktop(Notification::Down, "HOST DOWN: quiet", {});
        off.desktop = false; // as the controller builds it with "DESKTOP_NOTIFY" 0
        queue.notify(off);
        queue.notify(Desktop(Notification::Up, "HOST UP: web (10.0.0.8)",
                             "HTTP port 80\nHTTP/1.1 200 OK"));
        EXPECT_TRUE(test::PumpEventsUntil(
            [&] { return queue.backlog() == 0 && service.notifyCalls.size() >= 2; }, 10s));
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", previous);

    // Argument count, app name, icon, summary, body and urgency of each call.
    // The service reads markup, so the message's own "<" and "&" are escaped.
    QStringList calls;
    for (const QVariantList& c : service.notifyCalls)
        calls << QStringList{QString::number(c.size()), c.value(0).toString(), c.value(2).toString(),
                             c.value(3).toString(), c.value(4).toString(),
                             QString::number(qdbus_cast<QVariantMap>(c.value(6)).value("urgency").toInt())}
                     .join('|');
    EXPECT_EQ(calls, (QStringList{"8|Quillmere|quillmere|HOST DOWN: web (10.0.0.8)|HTTP port 80\n&lt;title&gt; &amp; more|2",
                                  "8|Quillmere|quillmere|HOST UP: web (10.0.0.8)|HTTP port 80\nHTTP/1.1 200 OK|1"}));
    EXPECT_TRUE(fallback.shown.empty());
}

TEST_F(DesktopNotifierTest, SilentOrMissingServiceOrNoBusFallsBackWithoutHoldingTheMainThread)
{
    ASSERT_EQ(m_bus.error(), "");
    FakeNotificationService service(m_bus.address());
    ASSERT_TRUE(service.registered());
    service.silent = true;
    const QString address = m_bus.address();
    NotificationQueueOptions options;
    options.makeDesktopNotifier = [address] { return std::make_unique<DesktopNotifierDbus>(address, 400); };
    NotificationQueue queue(m_sink, m_prompt, options);
    Fallback fallback;
    queue.setDesktopFallback(fallback.function());

    QElapsedTimer clock;
    clock.start();
    queue.notify(Desktop(Notification::Down, "HOST DOWN: a", "ECHO port 7\nTimed out"));
    EXPECT_LT(clock.elapsed(), 300); // less than the notifier's wait
    // The service, served by this thread's event loop, gets the call while the
    // notification thread waits for its answer.
    ASSERT_TRUE(test::PumpEventsUntil([&] { return service.notifyCalls.size() == 1; }, 5s));
    EXPECT_TRUE(fallback.shown.empty());
    // No answer in time: the tray's message shows it, on this thread.
    ASSERT_TRUE(test::PumpEventsUntil([&] { return fallback.shown.size() == 1; }, 5s));
    EXPECT_EQ(fallback.shown[0], (std::pair<QString, QString>{"HOST DOWN: a", "ECHO port 7\nTimed out"}));
    EXPECT_EQ(fallback.thread, CurrentThreadId());

    // No service on the bus.
    service.unregister();
    queue.notify(Desktop(Notification::Up, "HOST UP: a", "ECHO port 7\nSuccess"));
    ASSERT_TRUE(test::PumpEventsUntil([&] { return fallback.shown.size() == 2; }, 5s));
    EXPECT_EQ(fallback.shown[1].first, "HOST UP: a");
    EXPECT_EQ(service.notifyCalls.size(), 1u);

    // No bus at all.
    const QTemporaryDir empty;
    const QString nowhere = "unix:path=" + empty.filePath("none");
    options.makeDesktopNotifier = [nowhere] { return std::make_unique<DesktopNotifierDbus>(nowhere, 400); };
    NotificationQueue busless(m_sink, m_prompt, options);
    busless.setDesktopFallback(fallback.function());
    busless.notify(Desktop(Notification::Down, "HOST DOWN: b", {}));
    ASSERT_TRUE(test::PumpEventsUntil([&] { return fallback.shown.size() == 3; }, 5s));
    EXPECT_EQ(fallback.shown[2].first, "HOST DOWN: b");
}

} // namespace
} // namespace qm
