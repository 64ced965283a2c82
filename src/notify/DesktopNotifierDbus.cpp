#include "notify/DesktopNotifierDbus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QVariantMap>

#include <atomic>

Q_LOGGING_CATEGORY(lcDesktopNotify, "quillmere.notify.desktop", QtInfoMsg)

namespace qm {

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// Urgency levels of the notification service.
constexpr uchar kNormal = 1;
constexpr uchar kCritical = 2;

QString NewConnectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("quillmere-desktop-notify-%1").arg(++next);
}
} // namespace

DesktopNotifierDbus::DesktopNotifierDbus(QString busAddress, int timeoutMs)
    : m_address(std::move(busAddress)), m_timeoutMs(timeoutMs)
{
}

DesktopNotifierDbus::~DesktopNotifierDbus()
{
    disconnect();
}

QString DesktopNotifierDbus::SessionBusAddress()
{
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty())
        return address;
    // The per-user bus of systemd sessions, when the variable was not passed on.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString socket = runtime + QStringLiteral("/bus");
    if (!runtime.isEmpty() && QFileInfo::exists(socket))
        return QStringLiteral("unix:path=") + socket;
    return {};
}

bool DesktopNotifierDbus::connect()
{
    if (!m_connectionName.isEmpty())
        return true;
    const QString address = m_address.isEmpty() ? SessionBusAddress() : m_address;
    if (address.isEmpty()) {
        qCDebug(lcDesktopNotify) << "no session bus";
        return false;
    }
    const QString name = NewConnectionName();
    const QDBusConnection bus = QDBusConnection::connectToBus(address, name);
    if (!bus.isConnected()) {
        qCDebug(lcDesktopNotify).noquote()
            << "cannot connect to" << address << ":" << bus.lastError().message();
        QDBusConnection::disconnectFromBus(name);
        return false;
    }
    m_connectionName = name;
    return true;
}

void DesktopNotifierDbus::disconnect()
{
    if (m_connectionName.isEmpty())
        return;
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_connectionName.clear();
    m_bodyMarkup.reset();
}

bool DesktopNotifierDbus::show(const DesktopMessage& message)
{
    if (!connect())
        return false;
    QDBusConnection bus(m_connectionName);
    auto failed = [&](const QDBusMessage& reply) {
        qCDebug(lcDesktopNotify).noquote()
            << "notification service:" << reply.errorName() << reply.errorMessage();
        // A lost bus is opened again next time; a service that was missing
        // or slow is asked again next time.
        if (!bus.isConnected())
            disconnect();
        m_bodyMarkup.reset();
        return false;
    };

    // Services that read the body as markup need its "<" and "&" escaped;
    // the others show it as it is.
    if (!m_bodyMarkup) {
        const QDBusMessage reply =
            bus.call(QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                    QStringLiteral("GetCapabilities")),
                     QDBus::Block, m_timeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            return failed(reply);
        m_bodyMarkup =
            reply.arguments().value(0).toStringList().contains(QStringLiteral("body-markup"));
    }

    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(message.urgent ? kCritical : kNormal)},
        {QStringLiteral("desktop-entry"), QStringLiteral("quillmere")},
    };
    call << QStringLiteral("Quillmere") << uint(0) << QStringLiteral("quillmere") << message.summary
         << (*m_bodyMarkup ? message.body.toHtmlEscaped() : message.body) << QStringList() << hints
         << int(-1);
    const QDBusMessage reply = bus.call(call, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return failed(reply);
    return true;
}

} // namespace qm
