#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <vector>

namespace qm {

class OperatorPrompt;

// The data side of the "View Logs" dialog: the hosts in the results table and
// the recorded polls of one service with their summary.
class LogViewQueries
{
public:
    // One line of the result list.
    struct Row
    {
        QString message;
        QString response;      // "%d msec", or "error" for the no-response time
        QString failure;       // "error" for a failure, else empty
        QString dateStamp;     // local date and time in the locale's "%c" form
        QString stamp;         // DATESTAMP as stored, the key of the time order
        int image = 0;         // 1 for a failure, else 0
        bool selected = false; // even rows are shown selected
    };

    struct ServiceLog
    {
        std::vector<Row> rows;
        int polls = 0;      // every row, failures included
        int timedPolls = 0; // rows whose time counts for the average
        double averageMs = 0.0;

        bool empty() const { return polls == 0; }
        // "%d" of the polls and "%#3.2f msec" of the average. With no rows the
        // dialog keeps the texts it showed before.
        QString pollsText() const;
        QString averageText() const;
    };

    // Entries of the dialog's lists, from the protocol table: every protocol,
    // and each one's usual port (a port shared by two protocols is listed twice).
    static QStringList ProtocolChoices();
    static QStringList PortChoices();
    // The port a protocol choice puts into the port field: "0" for ECHO, "80"
    // for HTTP, "21" for FTP; empty (leave the field as it is) otherwise.
    static QString PortForProtocol(const QString& protocol);

    LogViewQueries(QSqlDatabase db, OperatorPrompt& prompt);

    // The distinct non-empty hosts of the table, in text order. Errors are
    // shown (stop icon) and give an empty list.
    QStringList hosts();

    // The rows of one service in time order. Host, protocol and port are
    // bound as values, so any text is safe; an empty or non-numeric port
    // matches no row. Errors are shown (stop icon) and give an empty log.
    ServiceLog serviceLog(const QString& host, const QString& protocol, const QString& port);

    // Puts rows read in recording order into time order (stable, so rows of
    // the same time keep their recording order) and selects the even ones.
    static void SortByTime(std::vector<Row>& rows);

    // A stored DATESTAMP (UTC) in the local time zone, formatted "%c" in the
    // current C locale; a text in another form is returned as it is.
    static QString LocalDateText(const QString& stamp);

    // The local-time offset of the last hour converted: the rows of one read
    // share it, so each row is a plain conversion instead of a zone look-up.
    // Offsets change on whole hours (daylight saving), so the hour is the key.
    struct ZoneCache
    {
        long long hour = -1; // UTC seconds of the hour start
        long offset = 0;     // local minus UTC, in seconds
        int isDst = 0;
        const char* zone = nullptr;
    };
    static QString LocalDateText(const QString& stamp, ZoneCache& cache);

private:
    QSqlDatabase m_db;
    OperatorPrompt& m_prompt;
};

} // namespace qm
