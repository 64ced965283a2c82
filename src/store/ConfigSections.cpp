#include "store/ConfigSections.h"

#include "notify/Notifier.h"
#include "store/SettingsStore.h"

#include <algorithm>

namespace qm {

namespace {
const QString kAuthentication = QStringLiteral("ConfigAuthenticationDefaults");
const QString kDatabase = QStringLiteral("ConfigDatabase");
const QString kFloat = QStringLiteral("ConfigFloatDefaults");
const QString kNotification = QStringLiteral("ConfigNotificationDefaults");
const QString kFrequency = QStringLiteral("ConfigFrequency");
const QString kXml = QStringLiteral("ConfigXML");

bool ReadFlag(const SettingsStore& store, const QString& section, const char* name)
{
    return store.readInt(section, QLatin1String(name), 0) != 0;
}
void WriteFlag(SettingsStore& store, const QString& section, const char* name, bool on)
{
    store.writeInt(section, QLatin1String(name), on ? 1 : 0);
}
QString ReadText(const SettingsStore& store, const QString& section, const char* name)
{
    return store.readString(section, QLatin1String(name));
}
void WriteText(SettingsStore& store, const QString& section, const char* name, const QString& value)
{
    store.writeString(section, QLatin1String(name), value);
}
} // namespace

AuthenticationDefaults LoadAuthenticationDefaults(const SettingsStore& store)
{
    return {ReadText(store, kAuthentication, "USID"), ReadText(store, kAuthentication, "PSWD"),
            ReadText(store, kAuthentication, "DOMA")};
}

void SaveAuthenticationDefaults(SettingsStore& store, const AuthenticationDefaults& v)
{
    WriteText(store, kAuthentication, "USID", v.userId);
    WriteText(store, kAuthentication, "PSWD", v.password);
    WriteText(store, kAuthentication, "DOMA", v.domain);
}

QString LoadDatabaseFile(const SettingsStore& store)
{
    return ReadText(store, kDatabase, "DATABASE_FILE");
}

void SaveDatabaseFile(SettingsStore& store, const QString& path)
{
    WriteText(store, kDatabase, "DATABASE_FILE", path);
}

int LoadKeepDays(const SettingsStore& store)
{
    return std::max(0, store.readInt(kDatabase, QStringLiteral("KEEP_DAYS"), 0));
}

void SaveKeepDays(SettingsStore& store, int days)
{
    store.writeInt(kDatabase, QStringLiteral("KEEP_DAYS"), std::max(0, days));
}

FloatDefaults LoadFloatDefaults(const SettingsStore& store)
{
    return {ReadFlag(store, kFloat, "FLOAT_ENABLE"), store.readInt(kFloat, QStringLiteral("SENSITIVITY"), 0)};
}

void SaveFloatDefaults(SettingsStore& store, const FloatDefaults& v)
{
    WriteFlag(store, kFloat, "FLOAT_ENABLE", v.enabled);
    store.writeInt(kFloat, QStringLiteral("SENSITIVITY"), v.sensitivity);
}

NotificationFields LoadNotificationDefaults(const SettingsStore& store)
{
    NotificationFields n;
    n.enabled = ReadFlag(store, kNotification, "NOTIFICATION_ENABLE");
    n.mailEnabled = ReadFlag(store, kNotification, "EMAIL_ENABLE");
    n.soundEnabled = ReadFlag(store, kNotification, "SOUND_ENABLE");
    n.pagerEnabled = ReadFlag(store, kNotification, "PAGER_ENABLE");
    n.mailTo = ReadText(store, kNotification, "EMAIL_ADDRESS");
    n.mailFrom = ReadText(store, kNotification, "EMAIL_FROM_ADDRESS");
    n.mailServer = ReadText(store, kNotification, "EMAIL_SMTP");
    n.soundFile = ReadText(store, kNotification, "SOUND_FILE");
    n.pagerSequence = ReadText(store, kNotification, "PAGER_SEQUENCE");
    n.modemDevice = store.readString(QLatin1String(kModemDeviceSection), QLatin1String(kModemDeviceValue),
                                     QLatin1String(kDefaultModemDevice));
    return n;
}

void SaveNotificationDefaults(SettingsStore& store, const NotificationFields& n)
{
    WriteFlag(store, kNotification, "NOTIFICATION_ENABLE", n.enabled);
    WriteFlag(store, kNotification, "EMAIL_ENABLE", n.mailEnabled);
    WriteFlag(store, kNotification, "SOUND_ENABLE", n.soundEnabled);
    WriteFlag(store, kNotification, "PAGER_ENABLE", n.pagerEnabled);
    WriteText(store, kNotification, "EMAIL_ADDRESS", n.mailTo);
    WriteText(store, kNotification, "EMAIL_FROM_ADDRESS", n.mailFrom);
    WriteText(store, kNotification, "EMAIL_SMTP", n.mailServer);
    WriteText(store, kNotification, "SOUND_FILE", n.soundFile);
    WriteText(store, kNotification, "PAGER_SEQUENCE", n.pagerSequence);
    store.writeString(QLatin1String(kModemDeviceSection), QLatin1String(kModemDeviceValue), n.modemDevice);
}

DesktopDefaults LoadDesktopDefaults(const SettingsStore& store)
{
    return {store.readInt(kNotification, QStringLiteral("TRAY_ON_CLOSE"), 0) != 0,
            store.readInt(kNotification, QStringLiteral("DESKTOP_NOTIFY"), 1) != 0};
}

void SaveDesktopDefaults(SettingsStore& store, const DesktopDefaults& v)
{
    WriteFlag(store, kNotification, "TRAY_ON_CLOSE", v.trayOnClose);
    WriteFlag(store, kNotification, "DESKTOP_NOTIFY", v.desktopNotify);
}

int LoadFrequencyDefault(const SettingsStore& store)
{
    return store.readInt(kFrequency, QStringLiteral("FREQUENCY"), 120);
}

void SaveFrequencyDefault(SettingsStore& store, int seconds)
{
    store.writeInt(kFrequency, QStringLiteral("FREQUENCY"), seconds);
}

XmlExportSettings LoadXmlExportSettings(const SettingsStore& store)
{
    XmlExportSettings x;
    x.enabled = ReadFlag(store, kXml, "ENABLE");
    x.frequency = store.readInt(kXml, QStringLiteral("FREQUENCY"), 60);
    x.localRadio = store.readInt(kXml, QStringLiteral("LOCAL_RADIO"), 0) == 1;
    x.ftpRadio = store.readInt(kXml, QStringLiteral("FTP_RADIO"), 0) == 1;
    x.localFolder = ReadText(store, kXml, "LOCAL_FOLDER");
    x.ftpUrl = ReadText(store, kXml, "FTP_URL");
    x.ftpUserId = ReadText(store, kXml, "FTP_USERID");
    x.ftpPassword = ReadText(store, kXml, "FTP_PASSWORD");
    return x;
}

void SaveXmlExportSettings(SettingsStore& store, const XmlExportSettings& x)
{
    WriteFlag(store, kXml, "ENABLE", x.enabled);
    store.writeInt(kXml, QStringLiteral("FREQUENCY"), x.frequency);
    WriteFlag(store, kXml, "LOCAL_RADIO", x.localRadio);
    WriteFlag(store, kXml, "FTP_RADIO", x.ftpRadio);
    WriteText(store, kXml, "LOCAL_FOLDER", x.localFolder);
    WriteText(store, kXml, "FTP_URL", x.ftpUrl);
    WriteText(store, kXml, "FTP_USERID", x.ftpUserId);
    WriteText(store, kXml, "FTP_PASSWORD", x.ftpPassword);
}

int LoadCertWarnDays(const SettingsStore& store)
{
    return std::max(0, store.readInt(QStringLiteral("ConfigHTTPS"), QStringLiteral("CERT_WARN_DAYS"), kDefaultCertWarnDays));
}

QString FolderStatusText(const QString& path)
{
    constexpr qsizetype kShown = 35;
    return path.size() > kShown ? path.left(kShown) + QStringLiteral("...") : path;
}

MetricsSettings LoadMetricsSettings(const SettingsStore& store)
{
    const QString section = QStringLiteral("ConfigMetrics");
    MetricsSettings m;
    m.enabled = ReadFlag(store, section, "ENABLE");
    const QString listen = ReadText(store, section, "LISTEN").trimmed();
    if (!listen.isEmpty())
        m.listen = listen;
    return m;
}

void SaveMetricsSettings(SettingsStore& store, const MetricsSettings& m)
{
    const QString section = QStringLiteral("ConfigMetrics");
    WriteFlag(store, section, "ENABLE", m.enabled);
    WriteText(store, section, "LISTEN", m.listen);
}

} // namespace qm
