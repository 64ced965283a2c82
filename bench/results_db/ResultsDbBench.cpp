// Appends per second into the results database, the way the monitor records
// results: one prepared insert and one commit per result.
//
//   results_db_bench [COUNT [FILE]]   append COUNT results (default 50000) to
//                                     FILE (default: a new file in a
//                                     temporary folder) and print the rate
//   results_db_bench --forever FILE   append until killed, printing the number
//                                     of results recorded after each thousand
//                                     (for checking what a killed process keeps)

#include "platform/OperatorPrompt.h"
#include "store/ResultsDatabase.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool Append(qm::ResultsDatabase& db, long i)
{
    const bool failed = i % 10 == 9;
    return db.RecordResults(QStringLiteral("host-%1.example.org").arg(i % 50),
                            QStringLiteral("HTTP"), QStringLiteral("80"), QStringLiteral("60"),
                            failed ? QStringLiteral("2147483647") : QString::number(i % 900),
                            failed ? QStringLiteral("Connection refused")
                                   : QStringLiteral("HTTP/1.1 200 OK [nginx/1.22.1]"),
                            failed ? QStringLiteral("1") : QStringLiteral("0"));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qm::StderrPrompt prompt;
    qm::ResultsDatabase db(prompt);

    if (argc == 3 && std::strcmp(argv[1], "--forever") == 0) {
        if (!db.openFile(QString::fromLocal8Bit(argv[2])))
            return 1;
        for (long i = 0;; ++i) {
            if (!Append(db, i))
                return 1;
            if ((i + 1) % 1000 == 0) {
                std::printf("%ld\n", i + 1);
                std::fflush(stdout);
            }
        }
    }

    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 50000;
    QTemporaryDir dir;
    const QString file =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.filePath(QStringLiteral("bench.mdb"));
    if (count <= 0 || !db.openFile(file))
        return 1;

    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i)
        if (!Append(db, i))
            return 1;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld appends in %.3f s: %.0f appends per second (%.1f microseconds each)\n", count,
                seconds, count / seconds, seconds * 1e6 / count);
    return 0;
}
