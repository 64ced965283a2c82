#include "store/LogViewQueries.h"

#include "platform/OperatorPrompt.h"
#include "store/ResultsDatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cstdio>
#include <ctime>

namespace qm {

namespace {

QString ErrorText(const QSqlError& error)
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

} // namespace

QString LogViewQueries::ServiceLog::pollsText() const
{
    return QString::asprintf("%d", polls);
}

QString LogViewQueries::ServiceLog::averageText() const
{
    return QString::asprintf("%#3.2f msec", averageMs);
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

bool LogViewQueries::ready()
{
    if (m_db.isValid() && m_db.isOpen())
        return true;
    m_prompt.inform(OperatorPrompt::Icon::Stop, "The results database is not open.");
    return false;
}

QStringList LogViewQueries::hosts()
{
    QStringList out;
    if (!ready())
        return out;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(
            QStringLiteral("SELECT HOST FROM HISTORY WHERE HOST IS NOT NULL GROUP BY HOST"))) {
        m_prompt.inform(OperatorPrompt::Icon::Stop, ErrorText(query.lastError()).toStdString());
        return out;
    }
    while (query.next())
        out.append(query.value(0).toString());
    return out;
}

LogViewQueries::ServiceLog LogViewQueries::serviceLog(const QString& host, const QString& protocol,
                                                      const QString& port)
{
    ServiceLog log;
    bool portOk = false;
    const qint64 portNumber = port.trimmed().toLongLong(&portOk);
    if (!portOk || !ready())
        return log;

    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    // INDEX breaks ties between results recorded in the same millisecond.
    if (!query.prepare(QStringLiteral("SELECT TIME, MESSAGE, FAILURE, DATESTAMP FROM HISTORY "
                                      "WHERE HOST = ? AND PROTOCOL = ? AND PORT = ? "
                                      "ORDER BY DATESTAMP, \"INDEX\""))) {
        m_prompt.inform(OperatorPrompt::Icon::Stop, ErrorText(query.lastError()).toStdString());
        return log;
    }
    query.addBindValue(host);
    query.addBindValue(protocol);
    query.addBindValue(portNumber);
    if (!query.exec()) {
        m_prompt.inform(OperatorPrompt::Icon::Stop, ErrorText(query.lastError()).toStdString());
        return log;
    }

    double sum = 0.0;
    while (query.next()) {
        Row row;
        const QVariant time = query.value(0);
        const bool failed = query.value(2).toInt() != 0;
        row.message = query.value(1).toString();
        if (!time.isNull()) {
            const qint64 ms = time.toLongLong();
            row.response = ms == ResultsDatabase::kNoResponseTime
                               ? QStringLiteral("error")
                               : QString::asprintf("%lld msec", ms);
            if (ms >= 0 && ms != ResultsDatabase::kNoResponseTime) {
                sum += static_cast<double>(ms);
                ++log.timedPolls;
            }
        }
        row.failure = failed ? QStringLiteral("error") : QString();
        row.image = failed ? 1 : 0;
        row.dateStamp = LocalDateText(query.value(3).toString());
        row.selected = log.rows.size() % 2 == 0;
        log.rows.push_back(std::move(row));
    }
    log.polls = static_cast<int>(log.rows.size());
    log.averageMs = log.timedPolls > 0 ? sum / log.timedPolls : 0.0;
    return log;
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
