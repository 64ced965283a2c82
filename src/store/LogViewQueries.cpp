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
    ZoneCache cache;
    return LocalDateText(stamp, cache);
}

QString LogViewQueries::LocalDateText(const QString& stamp, ZoneCache& cache)
{
    // "YYYY-MM-DD HH:MM:SS", digits at fixed places.
    int fields[6] = {};
    static constexpr int kStart[6] = {0, 5, 8, 11, 14, 17};
    static constexpr int kLength[6] = {4, 2, 2, 2, 2, 2};
    static constexpr char kAfter[6] = {'-', '-', ' ', ':', ':', 0};
    if (stamp.size() < 19)
        return stamp;
    for (int f = 0; f < 6; ++f) {
        for (int i = kStart[f]; i < kStart[f] + kLength[f]; ++i) {
            const char16_t c = stamp[i].unicode();
            if (c < u'0' || c > u'9')
                return stamp;
            fields[f] = fields[f] * 10 + (c - u'0');
        }
        if (kAfter[f] != 0 && stamp[kStart[f] + kLength[f]] != QLatin1Char(kAfter[f]))
            return stamp;
    }
    std::tm utc{};
    utc.tm_year = fields[0] - 1900;
    utc.tm_mon = fields[1] - 1;
    utc.tm_mday = fields[2];
    utc.tm_hour = fields[3];
    utc.tm_min = fields[4];
    utc.tm_sec = fields[5];
    const std::time_t when = timegm(&utc);
    const long long hour = static_cast<long long>(when) - static_cast<long long>(when) % 3600;
    if (hour != cache.hour) {
        std::tm local{};
        localtime_r(&when, &local);
        cache = {hour, local.tm_gmtoff, local.tm_isdst, local.tm_zone};
    }
    const std::time_t shifted = when + cache.offset;
    std::tm local{};
    gmtime_r(&shifted, &local);
    local.tm_gmtoff = cache.offset;
    local.tm_isdst = cache.isDst;
    local.tm_zone = cache.zone;
    char buffer[128];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%c", &local);
    return QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n));
}

} // namespace qm
