#pragma once

#include "store/HostFields.h"

#include <QString>

namespace qm {

class SettingsStore;

// The program-wide settings the configuration sheet edits, one section each.
// Loading gives the section's defaults for missing values; saving writes
// every value of the section and nothing else.

// "ConfigAuthenticationDefaults"; the password is kept as typed.
struct AuthenticationDefaults
{
    QString userId;
    QString password;
    QString domain;
};
AuthenticationDefaults LoadAuthenticationDefaults(const SettingsStore& store);
void SaveAuthenticationDefaults(SettingsStore& store, const AuthenticationDefaults& values);

// "ConfigDatabase"/"DATABASE_FILE" (the server values of the section:
// DatabaseTarget.h).
QString LoadDatabaseFile(const SettingsStore& store);
void SaveDatabaseFile(SettingsStore& store, const QString& path);
// "ConfigDatabase"/"KEEP_DAYS": results older than this many days are removed
// from the results database; 0 (the default, also for a negative value) keeps
// everything.
inline constexpr int kMaxKeepDays = 36500; // a hundred years
int LoadKeepDays(const SettingsStore& store);
void SaveKeepDays(SettingsStore& store, int days);

// "ConfigFloatDefaults"; the sensitivity is the slider position (0 when unset).
struct FloatDefaults
{
    bool enabled = false;
    int sensitivity = 0;
};
FloatDefaults LoadFloatDefaults(const SettingsStore& store);
void SaveFloatDefaults(SettingsStore& store, const FloatDefaults& values);

// "ConfigNotificationDefaults", the modem device included.
NotificationFields LoadNotificationDefaults(const SettingsStore& store);
void SaveNotificationDefaults(SettingsStore& store, const NotificationFields& values);

// Two more values of "ConfigNotificationDefaults" for the desktop program:
// "TRAY_ON_CLOSE", closing the window while monitoring runs hides it in the
// tray (off when unset); "DESKTOP_NOTIFY", a desktop notification for every
// host going down or coming up (on when unset).
struct DesktopDefaults
{
    bool trayOnClose = false;
    bool desktopNotify = true;
};
DesktopDefaults LoadDesktopDefaults(const SettingsStore& store);
void SaveDesktopDefaults(SettingsStore& store, const DesktopDefaults& values);

// "ConfigFrequency"/"FREQUENCY": seconds between polls of a new host.
int LoadFrequencyDefault(const SettingsStore& store);
void SaveFrequencyDefault(SettingsStore& store, int seconds);

// "ConfigXML": the status export.
struct XmlExportSettings
{
    bool enabled = false;
    int frequency = 60;
    bool localRadio = false;
    bool ftpRadio = false;
    QString localFolder;
    QString ftpUrl;
    QString ftpUserId;
    QString ftpPassword;
};
XmlExportSettings LoadXmlExportSettings(const SettingsStore& store);
void SaveXmlExportSettings(SettingsStore& store, const XmlExportSettings& values);

// "ConfigHTTPS"/"CERT_WARN_DAYS": an HTTPS success whose certificate has fewer
// days left is shown as a warning (14 when unset; never below 0).
inline constexpr int kDefaultCertWarnDays = 14;
int LoadCertWarnDays(const SettingsStore& store);

// The folder browser's status line: a path of more than 35 characters is
// cut to its first 35 followed by "...".
QString FolderStatusText(const QString& path);

// "ConfigMetrics": the desktop program's Prometheus metrics endpoint,
// "ENABLE" (off when unset) and "LISTEN" (ADDRESS:PORT; loopback when unset
// or empty).
inline constexpr char kDefaultMetricsListen[] = "127.0.0.1:9464";
struct MetricsSettings
{
    bool enabled = false;
    QString listen = QString::fromLatin1(kDefaultMetricsListen);
};
MetricsSettings LoadMetricsSettings(const SettingsStore& store);
void SaveMetricsSettings(SettingsStore& store, const MetricsSettings& values);

} // namespace qm
