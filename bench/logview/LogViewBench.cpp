// The data side on a large results table: the log viewer's two queries,
// opening (with and without the SERVICES table), recording and retention.
//
//   logview_bench [ROWS [FILE]]   build a table of ROWS results (default
//                                 10,000,000: 1,000 services of ROWS/1,000
//                                 rows, spread over the last 100 days) in FILE
//                                 (default: a temporary folder), then time
//                                 each step and print it. An existing FILE
//                                 is used as it is.

#include "BenchSupport.h"
#include "platform/OperatorPrompt.h"
#include "store/LogViewQueries.h"
#include "store/ResultsDatabase.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <cstdlib>
#include <ctime>

namespace {

using Clock = std::chrono::steady_clock;
using qm::bench::ThreadCpuMs;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool Exec(qm::ResultsDatabase& db, const QString& statement)
{
    QSqlQuery q(db.GetDatabase());
    if (q.exec(statement))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(statement), qPrintable(q.lastError().text()));
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long rows = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000000;
    QTemporaryDir dir;
    const QString file =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.filePath(QStringLiteral("big.mdb"));
    if (rows < 1000)
        return 2;
    qm::StderrPrompt prompt;

    const bool build = !QFileInfo::exists(file);
    if (build) {
        qm::ResultsDatabase db(prompt);
        if (!db.openFile(file))
            return 1;
        auto start = Clock::now();
        // Row i belongs to service i % 1000 and is (rows - i) * 100 days / rows old.
        if (!Exec(db, QStringLiteral(
                          "WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c "
                          "WHERE i < %1) INSERT INTO HISTORY (HOST, PROTOCOL, PORT, FREQUENCY, "
                          "TIME, MESSAGE, FAILURE, DATESTAMP) SELECT 'host-' || (i %% 1000) || "
                          "'.example.org', 'HTTP', 80, 60, CASE WHEN i %% 10 = 9 THEN 2147483647 "
                          "ELSE i %% 900 END, CASE WHEN i %% 10 = 9 THEN 'Connection refused' "
                          "ELSE 'HTTP/1.1 200 OK [nginx/1.22.1]' END, i %% 10 = 9, "
                          "strftime('%%Y-%%m-%%d %%H:%%M:%%f', 'now', '-' || ((%1 - i) * 8640000 "
                          "/ %1) || ' seconds') FROM c")
                          .arg(rows - 1)
                          .replace(QLatin1String("%%"), QLatin1String("%"))))
            return 1;
        // As a file written before SERVICES existed.
        if (!Exec(db, QStringLiteral("DROP TABLE SERVICES")) ||
            !Exec(db, QStringLiteral("DROP TABLE QUILLMERE_STATE")))
            return 1;
        std::printf("built %ld rows in %.1f s\n", rows, MsSince(start) / 1000);
    }

    qm::ResultsDatabase db(prompt);
    auto start = Clock::now();
    if (!db.openFile(file))
        return 1;
    std::printf("open%s: %.0f ms\n", build ? ", building SERVICES from HISTORY" : "",
                MsSince(start));
    db.close();
    start = Clock::now();
    if (!db.openFile(file))
        return 1;
    std::printf("open: %.1f ms\n", MsSince(start));

    auto queriesOwner = std::make_unique<qm::LogViewQueries>(db.GetDatabase(), prompt);
    qm::LogViewQueries& queries = *queriesOwner;
    start = Clock::now();
    const QStringList hosts = queries.hosts();
    std::printf("host list (%lld hosts): %.1f ms\n", static_cast<long long>(hosts.size()),
                MsSince(start));
    start = Clock::now();
    {
        QSqlQuery q(db.GetDatabase());
        q.setForwardOnly(true);
        long n = 0;
        if (q.exec(QStringLiteral("SELECT HOST FROM HISTORY GROUP BY HOST")))
            while (q.next())
                ++n;
        std::printf("  for comparison, GROUP BY HOST over HISTORY (%ld hosts): %.0f ms\n", n,
                    MsSince(start));
    }
    for (const char* service : {"host-7.example.org", "host-8.example.org"}) {
        start = Clock::now();
        const double cpu0 = ThreadCpuMs();
        const auto log = queries.serviceLog(QString::fromLatin1(service), QStringLiteral("HTTP"),
                                            QStringLiteral("80"));
        std::printf("one service (%d rows, average %s): %.1f ms (%.1f ms of CPU)\n", log.polls,
                    qPrintable(log.averageText()), MsSince(start), ThreadCpuMs() - cpu0);
    }

    const QString host = QStringLiteral("host-1.example.org"), http = QStringLiteral("HTTP"),
                  port = QStringLiteral("80"), freq = QStringLiteral("60"),
                  time = QStringLiteral("12"), message = QStringLiteral("HTTP/1.1 200 OK"),
                  ok = QStringLiteral("0");
    const int appends = 100000;
    start = Clock::now();
    for (int i = 0; i < appends; ++i)
        db.RecordResults(host, http, port, freq, time, message, ok);
    db.flush();
    const double appendMs = MsSince(start);
    std::printf("%d appends to the large table: %.0f rows/s\n", appends, appends * 1000 / appendMs);

    // Retention keeping 70 of the 100 days, with results recorded between
    // slices as the event loop would.
    // Each slice is timed in wall-clock time (what recording waits) and in
    // the thread's CPU time (the same without other processes' share).
    start = Clock::now();
    long slices = 0;
    double longestWall = 0, longestCpu = 0;
    if (db.startPrune(70)) {
        for (bool more = true; more; ++slices) {
            const double cpu0 = ThreadCpuMs();
            const auto wall0 = Clock::now();
            more = db.pruneSlice();
            longestWall = std::max(longestWall, MsSince(wall0));
            longestCpu = std::max(longestCpu, ThreadCpuMs() - cpu0);
            for (int i = 0; i < 50; ++i)
                db.RecordResults(host, http, port, freq, time, message, ok);
        }
    }
    std::printf("prune to 70 days: %lld rows removed in %.1f s, %ld slices, longest slice "
                "%.1f ms (%.1f ms of CPU)\n",
                static_cast<long long>(db.prunedRows()), MsSince(start) / 1000, slices,
                longestWall, longestCpu);
    start = Clock::now();
    const QStringList after = queries.hosts();
    std::printf("host list after the prune (%lld hosts): %.1f ms\n",
                static_cast<long long>(after.size()), MsSince(start));
    queriesOwner.reset();
    db.close();
    std::printf("file: %.0f MB\n", QFileInfo(file).size() / 1e6);
    return 0;
}
