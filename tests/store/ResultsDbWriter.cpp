// Records results into the database file argv[1] until killed, printing how
// many it has recorded after each hundred.

#include "platform/OperatorPrompt.h"
#include "store/ResultsDatabase.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qm::StderrPrompt prompt;
    qm::ResultsDatabase db(prompt);
    if (argc != 2 || !db.openFile(QString::fromLocal8Bit(argv[1])))
        return 1;
    for (long i = 0;; ++i) {
        // MESSAGE is the row's number from 0, so the rows kept show any gap.
        db.RecordResults("h", "HTTP", "80", "60", "5", QString::number(i), "0");
        if ((i + 1) % 100 == 0) {
            std::printf("%ld\n", i + 1);
            std::fflush(stdout);
            QCoreApplication::processEvents();
        }
    }
}
