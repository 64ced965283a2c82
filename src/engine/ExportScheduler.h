#pragma once

#include "platform/SystemStats.h"
#include "store/StatusExporter.h"

#include <QObject>
#include <QString>
#include <QTimer>

namespace qm {

class HostListModel;
class MessagePaneModel;
class OperatorPrompt;
class SettingsStore;

// The two timers of a monitoring run: the status export every "ConfigXML"/
// "FREQUENCY" seconds, and the disk free-space text every five seconds. Both
// run only while monitoring runs and only when "ENABLE" was non-zero when it
// started. Lives on the main thread; the FTP part of an export runs on the
// exporter's worker.
class ExportScheduler : public QObject
{
    Q_OBJECT

public:
    static constexpr int kExportTimerId = 61999;
    static constexpr int kDiskTimerId = 61998;
    static constexpr int kDiskPeriodMs = 5000;

    ExportScheduler(const HostListModel& hosts, const MessagePaneModel& pane,
                    OperatorPrompt& prompt, QObject* parent = nullptr);
    ~ExportScheduler() override;

    // The results database file whose file system the disk text names. When
    // not set, "ConfigDatabase"/"DATABASE_FILE" is read at each refresh.
    void setDatabaseFile(const QString& path) { m_databaseFile = path; }

    // Starts both timers when "ConfigXML"/"ENABLE" is non-zero (call from the
    // start of monitoring). The store must live until stop().
    void start(SettingsStore& settings);
    // Stops both timers (call from the stop of monitoring). An upload under
    // way still finishes.
    void stop();
    bool isActive() const { return m_exportTimer.isActive(); }
    int exportPeriodMs() const { return m_exportTimer.interval(); }

    // The work of the export timer: the last-export text, then "server.xml"
    // and "message.xml".
    void exportNow();
    // The work of the disk timer.
    void refreshDiskText();

    QString lastExportText() const { return m_lastExportText; }
    QString diskText() const { return m_diskText; }
    StatusExporter& exporter() { return m_exporter; }

Q_SIGNALS:
    // "Last XML Update: " + "%a, %d %b %Y %H:%M:%S" of the local time.
    void lastExportTextChanged(const QString& text);
    // "HD FreeSpace %llu MB on %s".
    void diskTextChanged(const QString& text);

private:
    QByteArray serverDocument() const;
    QByteArray messageDocument() const;

    const HostListModel& m_hosts;
    const MessagePaneModel& m_pane;
    SettingsStore* m_settings = nullptr;
    StatusExporter m_exporter;
    QTimer m_exportTimer;
    QTimer m_diskTimer;
    SystemStats m_stats;
    QString m_databaseFile;
    QString m_lastExportText;
    QString m_diskText;
};

} // namespace qm
