#include "store/LogViewCursor.h"

#include "platform/OperatorPrompt.h"
#include "store/DatabaseDialect.h"
#include "store/ResultsDatabase.h"

#include <QVariant>

#include <limits>
#include <utility>

namespace qm {

LogViewCursor::LogViewCursor(QSqlDatabase db, OperatorPrompt& prompt)
    : m_db(std::move(db)), m_prompt(prompt)
{
}

void LogViewCursor::cancel()
{
    m_mode = Mode::Idle;
    // Ends the statement, so the connection holds no read open.
    m_query = QSqlQuery();
}

bool LogViewCursor::ready()
{
    if (m_db.isValid() && m_db.isOpen())
        return true;
    m_prompt.inform(OperatorPrompt::Icon::Stop, "The results database is not open.");
    return false;
}

void LogViewCursor::fail(const QSqlError& error)
{
    // The read ends before the operator is told: the prompt may run the event
    // loop, and whoever steps this cursor must find it finished meanwhile.
    cancel();
    m_prompt.inform(OperatorPrompt::Icon::Stop, DatabaseErrorText(error).toStdString());
}

void LogViewCursor::startHosts()
{
    cancel();
    m_hosts.clear();
    if (!ready())
        return;
    // SERVICES holds each distinct service of HISTORY, kept with the rows by
    // ResultsDatabase: a few thousand rows at most, where GROUP BY HOST would
    // walk the whole table. HISTORY is named too, so a missing table is an
    // error as for the other query.
    m_query = QSqlQuery(m_db);
    m_query.setForwardOnly(!DialectOf(m_db).server);
    if (!m_query.exec(QStringLiteral("SELECT DISTINCT %1 FROM SERVICES WHERE HOST IS NOT NULL AND "
                                     "EXISTS (SELECT 1 FROM HISTORY) ORDER BY 1")
                          .arg(QLatin1String(DialectOf(m_db).hostInByteOrder)))) {
        fail(m_query.lastError());
        return;
    }
    m_mode = Mode::Hosts;
}

void LogViewCursor::startService(const QString& host, const QString& protocol, const QString& port)
{
    cancel();
    m_log = ServiceLog();
    m_sum = 0.0;
    m_latestStamp.clear();
    m_zone = {};
    m_outOfOrder = false;
    bool portOk = false;
    const qint64 portNumber = port.trimmed().toLongLong(&portOk);
    // PORT is a 32-bit integer on a server, which refuses a larger number.
    if (!portOk || portNumber < std::numeric_limits<qint32>::min() ||
        portNumber > std::numeric_limits<qint32>::max() || !ready())
        return;

    m_host = host;
    m_protocol = protocol;
    m_port = portNumber;
    m_lastIndex = std::numeric_limits<qint64>::min();
    if (execPage())
        m_mode = Mode::Service;
}

bool LogViewCursor::execPage()
{
    m_query = QSqlQuery(m_db);
    // A server's driver streams a forward-only result over the connection,
    // which the batches of results recorded meanwhile need: there each page
    // is fetched whole instead, and stepped through all the same.
    m_query.setForwardOnly(!DialectOf(m_db).server);
    // The entries of SERVICE end in the row key, so a page is one walk of
    // the index from the last row read, in INDEX (recording) order, where
    // ORDER BY DATESTAMP would sort every row of the service first.
    if (!m_query.prepare(QStringLiteral("SELECT TIME, MESSAGE, FAILURE, %1, \"INDEX\" FROM HISTORY "
                                        "WHERE HOST = ? AND PROTOCOL = ? AND PORT = ? "
                                        "AND \"INDEX\" > ? ORDER BY \"INDEX\" LIMIT %2")
                             .arg(QLatin1String(DialectOf(m_db).stampText))
                             .arg(kPageRows))) {
        fail(m_query.lastError());
        return false;
    }
    m_query.addBindValue(m_host);
    m_query.addBindValue(m_protocol);
    m_query.addBindValue(m_port);
    m_query.addBindValue(m_lastIndex);
    if (!m_query.exec()) {
        fail(m_query.lastError());
        return false;
    }
    m_pageRows = 0;
    return true;
}

bool LogViewCursor::step(std::chrono::steady_clock::duration budget)
{
    const auto deadline = std::chrono::steady_clock::now() + budget;
    do {
        if (!(m_mode == Mode::Hosts ? stepHost() : m_mode == Mode::Service && stepRow()))
            break;
    } while (std::chrono::steady_clock::now() < deadline);
    return active();
}

bool LogViewCursor::stepHost()
{
    if (!m_query.next()) {
        const QSqlError error = m_query.lastError();
        if (error.isValid())
            fail(error);
        else
            cancel();
        return false;
    }
    m_hosts.append(m_query.value(0).toString());
    return true;
}

bool LogViewCursor::stepRow()
{
    if (!m_query.next()) {
        const QSqlError error = m_query.lastError();
        // A full page: the next one starts after its last row.
        if (!error.isValid() && m_pageRows == kPageRows)
            return execPage();
        m_log.averageMs = m_log.timedPolls > 0 ? m_sum / m_log.timedPolls : 0.0;
        if (error.isValid())
            fail(error);
        else
            cancel();
        return false;
    }
    ++m_pageRows;
    m_lastIndex = m_query.value(4).toLongLong();
    Row row;
    const QVariant time = m_query.value(0);
    const bool failed = m_query.value(2).toInt() != 0;
    row.message = m_query.value(1).toString();
    if (!time.isNull()) {
        const qint64 ms = time.toLongLong();
        row.response = ms == ResultsDatabase::kNoResponseTime ? QStringLiteral("error")
                                                              : QString::asprintf("%lld msec", ms);
        if (ms >= 0 && ms != ResultsDatabase::kNoResponseTime) {
            m_sum += static_cast<double>(ms);
            ++m_log.timedPolls;
        }
    }
    row.failure = failed ? QStringLiteral("error") : QString();
    row.image = failed ? 1 : 0;
    row.stamp = m_query.value(3).toString();
    row.dateStamp = LogViewQueries::LocalDateText(row.stamp, m_zone);
    row.selected = m_log.polls % 2 == 0;
    if (row.stamp < m_latestStamp)
        m_outOfOrder = true;
    else
        m_latestStamp = row.stamp;
    ++m_log.polls;
    m_log.rows.push_back(std::move(row));
    return true;
}

QStringList LogViewCursor::takeHosts()
{
    return std::exchange(m_hosts, {});
}

std::vector<LogViewCursor::Row> LogViewCursor::takeRows()
{
    return std::exchange(m_log.rows, {});
}

} // namespace qm
