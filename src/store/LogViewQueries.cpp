#include "store/LogViewQueries.h"

#include "probes/ProtocolTable.h"
#include "store/LogViewCursor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace qm {

QString LogViewQueries::ServiceLog::pollsText() const
{
    return QString::asprintf("%d", polls);
}

QString LogViewQueries::ServiceLog::averageText() const
{
    return QString::asprintf("%#3.2f msec", averageMs);
}

QStringList LogViewQueries::ProtocolChoices()
{
    QStringList names;
    for (const ProtocolInfo& p : ProtocolTable())
        names << QString::fromLatin1(p.name.data(), static_cast<qsizetype>(p.name.size()));
    return names;
}

QStringList LogViewQueries::PortChoices()
{
    QStringList ports;
    for (const ProtocolInfo& p : ProtocolTable())
        ports << QString::number(p.defaultPort);
    return ports;
}

QString LogViewQueries::PortForProtocol(const QString& protocol)
{
    if (protocol == QLatin1String("ECHO"))
        return QStringLiteral("0");
    if (protocol == QLatin1String("HTTP"))
        return QStringLiteral("80");
    if (protocol == QLatin1String("FTP"))
        return QStringLiteral("21");
    return {};
}

LogViewQueries::LogViewQueries(QSqlDatabase db, OperatorPrompt& prompt)
    : m_db(std::move(db)), m_prompt(prompt)
{
}

QStringList LogViewQueries::hosts()
{
    LogViewCursor cursor(m_db, m_prompt);
    cursor.startHosts();
    while (cursor.step(std::chrono::hours(1))) {
    }
    return cursor.takeHosts();
}

LogViewQueries::ServiceLog LogViewQueries::serviceLog(const QString& host, const QString& protocol,
                                                      const QString& port)
{
    LogViewCursor cursor(m_db, m_prompt);
    cursor.startService(host, protocol, port);
    while (cursor.step(std::chrono::hours(1))) {
    }
    ServiceLog log = cursor.log();
    log.rows = cursor.takeRows();
    if (cursor.outOfTimeOrder())
        SortByTime(log.rows);
    return log;
}

void LogViewQueries::SortByTime(std::vector<Row>& rows)
{
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.stamp < b.stamp; });
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].selected = i % 2 == 0;
}

QString LogViewQueries::LocalDateText(const QString& stamp)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const QByteArray text = stamp.toLatin1();
    if (std::sscanf(text.constData(), "%4d-%2d-%2d %2d:%2d:%2d", &year, &month, &day, &hour,
                    &minute, &second) != 6)
        return stamp;
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    const std::time_t when = timegm(&utc);
    std::tm local{};
    localtime_r(&when, &local);
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%c", &local);
    return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n));
}

} // namespace qm
