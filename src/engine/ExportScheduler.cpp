#include "engine/ExportScheduler.h"

#include "engine/HostListModel.h"
#include "engine/MessagePaneModel.h"
#include "platform/TimeText.h"
#include "store/SettingsStore.h"
#include "store/StatusXml.h"

#include <QFile>

#include <algorithm>
#include <ctime>

namespace qm {

ExportScheduler::ExportScheduler(const HostListModel& hosts, const MessagePaneModel& pane,
                                 OperatorPrompt& prompt, QObject* parent)
    : QObject(parent), m_hosts(hosts), m_pane(pane), m_exporter(prompt)
{
    m_exportTimer.setTimerType(Qt::CoarseTimer);
    m_diskTimer.setTimerType(Qt::CoarseTimer);
    connect(&m_exportTimer, &QTimer::timeout, this, &ExportScheduler::exportNow);
    connect(&m_diskTimer, &QTimer::timeout, this, &ExportScheduler::refreshDiskText);
}

ExportScheduler::~ExportScheduler() = default;

void ExportScheduler::start(SettingsStore& settings)
{
    stop();
    m_settings = &settings;
    if (settings.readInt(QStringLiteral("ConfigXML"), QStringLiteral("ENABLE"), 0) == 0)
        return;
    // A period below a second would export without pause.
    const int seconds =
        std::max(1, settings.readInt(QStringLiteral("ConfigXML"), QStringLiteral("FREQUENCY"), 60));
    m_exportTimer.start(std::min(seconds, 24 * 3600) * 1000);
    m_diskTimer.start(kDiskPeriodMs);
}

void ExportScheduler::stop()
{
    m_exportTimer.stop();
    m_diskTimer.stop();
}

void ExportScheduler::exportNow()
{
    if (!m_settings)
        return;
    m_lastExportText = QStringLiteral("Last XML Update: ") +
                       QString::fromStdString(FormatLocalTime("%a, %d %b %Y %H:%M:%S"));
    Q_EMIT lastExportTextChanged(m_lastExportText);

    m_exporter.exportDocument(*m_settings, QStringLiteral("server.xml"),
                              [this] { return serverDocument(); });
    m_exporter.exportDocument(*m_settings, QStringLiteral("message.xml"),
                              [this] { return messageDocument(); });
}

void ExportScheduler::refreshDiskText()
{
    QString path = m_databaseFile;
    if (path.isEmpty() && m_settings)
        path = m_settings->readString(QStringLiteral("ConfigDatabase"),
                                      QStringLiteral("DATABASE_FILE"));
    if (!m_stats.queryDisk(
            QFile::encodeName(path.isEmpty() ? QStringLiteral(".") : path).toStdString()))
        return;
    m_diskText = QString::fromStdString(m_stats.diskFreeText());
    Q_EMIT diskTextChanged(m_diskText);
}

QByteArray ExportScheduler::serverDocument() const
{
    std::vector<StatusXml::HostRow> rows;
    rows.reserve(static_cast<std::size_t>(m_hosts.rowCount()));
    for (int row = 0; row < m_hosts.rowCount(); ++row)
        rows.push_back({m_hosts.image(row), m_hosts.texts(row)});
    return StatusXml::ServerDocument(rows);
}

QByteArray ExportScheduler::messageDocument() const
{
    std::vector<StatusXml::MessageRow> rows;
    rows.reserve(static_cast<std::size_t>(m_pane.rowCount()));
    for (int row = 0; row < m_pane.rowCount(); ++row) {
        const MessagePaneModel::Line& line = m_pane.line(row);
        rows.push_back({line.image, line.text, line.respTime, line.timeStamp});
    }
    return StatusXml::MessageDocument(rows);
}

} // namespace qm
