#pragma once

#include "store/LogViewQueries.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <chrono>
#include <limits>
#include <vector>

namespace qm {

class OperatorPrompt;

// Reads the log viewer's two queries a bounded slice at a time.
//
// The results database is one connection, held with an exclusive lock by the
// main thread, so a long read can move neither to another thread nor to a
// second connection. Instead the caller steps the cursor from its event loop
// and the thread stays free in between. Results recorded on the same
// connection meanwhile are committed by their batch as usual: SQLite commits
// a write while a read statement of the same connection is still open (a
// server's result is fetched whole for that).
//
// No step waits for the whole table: the hosts come from the small SERVICES
// table, and the rows of a service straight off the SERVICE index, a page of
// kPageRows at a time.
class LogViewCursor
{
public:
    using Row = LogViewQueries::Row;
    using ServiceLog = LogViewQueries::ServiceLog;

    LogViewCursor(QSqlDatabase db, OperatorPrompt& prompt);

    // Start reading the distinct non-empty hosts (in text order), or the rows
    // of one service (see LogViewQueries::serviceLog). A read under way is
    // dropped. Errors are shown (stop icon) and end the read.
    void startHosts();
    void startService(const QString& host, const QString& protocol, const QString& port);
    void cancel();
    // Whether a started read has more to give.
    bool active() const { return m_mode != Mode::Idle; }

    // Reads on until the read ends or `budget` has passed, at least one host
    // or row per call. Returns active().
    bool step(std::chrono::steady_clock::duration budget);

    // The hosts or rows read since the last take.
    QStringList takeHosts();
    std::vector<Row> takeRows();
    // Polls and average of the service read, complete once the read ended
    // (its rows go to takeRows).
    const ServiceLog& log() const { return m_log; }
    // Rows come in recording order, which is time order unless the clock was
    // set back while results were recorded. True when a row came earlier in
    // time than one before it; the rows then need LogViewQueries::SortByTime.
    bool outOfTimeOrder() const { return m_outOfOrder; }

private:
    enum class Mode
    {
        Idle,
        Hosts,
        Service
    };

    bool ready();
    void fail(const QSqlError& error);
    bool stepHost();
    bool stepRow();
    // Runs the query of the next page of the service's rows.
    bool execPage();

    QSqlDatabase m_db;
    OperatorPrompt& m_prompt;
    Mode m_mode = Mode::Idle;
    QSqlQuery m_query;
    QStringList m_hosts;
    ServiceLog m_log;
    double m_sum = 0.0;
    QString m_latestStamp;
    LogViewQueries::ZoneCache m_zone;
    bool m_outOfOrder = false;
    // The service read, page by page.
    static constexpr int kPageRows = 2000;
    QString m_host;
    QString m_protocol;
    qint64 m_port = 0;
    qint64 m_lastIndex = std::numeric_limits<qint64>::min();
    int m_pageRows = 0;
};

} // namespace qm
