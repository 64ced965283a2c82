// Appends per second into the results database, the way the monitor records
// results: one prepared insert per result, committed in batches.
//
//   results_db_bench [COUNT [FILE]]   append COUNT results (default 200000) to
//                                     FILE (default: a new file in a
//                                     temporary folder) and print the rate
//   results_db_bench --forever FILE   append until killed, printing the number
//                                     of results recorded after each thousand
//                                     (for checking what a killed process keeps)

#include "platform/OperatorPrompt.h"
#include "store/ResultsDatabase.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Texts made once, as the engine hands over texts it already holds.
struct Texts
{
    QString hosts[50];
    QString protocol = QStringLiteral("HTTP");
    QString port = QStringLiteral("80");
    QString frequency = QStringLiteral("60");
    QString times[900];
    QString noResponse = QStringLiteral("2147483647");
    QString ok = QStringLiteral("HTTP/1.1 200 OK [nginx/1.22.1]");
    QString refused = QStringLiteral("Connection refused");
    QString zero = QStringLiteral("0");
    QString one = QStringLiteral("1");
    Texts()
    {
        for (int i = 0; i < 50; ++i)
            hosts[i] = QStringLiteral("host-%1.example.org").arg(i);
        for (int i = 0; i < 900; ++i)
            times[i] = QString::number(i);
    }
};

// CPU time of this process (user and system), in seconds.
double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

bool Append(qm::ResultsDatabase& db, const Texts& t, long i)
{
    const bool failed = i % 10 == 9;
    return db.RecordResults(t.hosts[i % 50], t.protocol, t.port, t.frequency,
                            failed ? t.noResponse : t.times[i % 900], failed ? t.refused : t.ok,
                            failed ? t.one : t.zero);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qm::StderrPrompt prompt;
    qm::ResultsDatabase db(prompt);
    const Texts texts;

    if (argc == 3 && std::strcmp(argv[1], "--forever") == 0) {
        if (!db.openFile(QString::fromLocal8Bit(argv[2])))
            return 1;
        for (long i = 0;; ++i) {
            if (!Append(db, texts, i))
                return 1;
            if ((i + 1) % 1000 == 0) {
                std::printf("%ld\n", i + 1);
                std::fflush(stdout);
            }
        }
    }

    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200000;
    QTemporaryDir dir;
    const QString file =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.filePath(QStringLiteral("bench.mdb"));
    if (count <= 0 || !db.openFile(file))
        return 1;

    const double cpu0 = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i)
        if (!Append(db, texts, i))
            return 1;
    db.flush();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpu0;
    std::printf("%ld rows in %.3f s: %.0f rows/s; %.2f microseconds of CPU each (%.0f rows per "
                "CPU second); batches of %d rows or %lld ms\n",
                count, seconds, count / seconds, cpu * 1e6 / count, count / cpu,
                qm::ResultsDatabase::kBatchRows,
                static_cast<long long>(qm::ResultsDatabase::kBatchInterval.count()));
    db.close();
    std::printf("file: %.1f bytes per row\n",
                static_cast<double>(QFileInfo(file).size()) / static_cast<double>(count));
    return 0;
}
