// quillmere-monitor: the headless runner. Monitors the hosts of the settings
// store without a display and prints every result; also edits the host list.

#include "app/monitor/CommandLine.h"
#include "app/monitor/HostsCommand.h"
#include "app/monitor/MonitorRun.h"
#include "app/monitor/TraceRouteCommand.h"
#include "store/SettingsStore.h"

#include <QCoreApplication>

namespace {

const char kUsage[] =
    "Usage:\n"
    "  quillmere-monitor [--settings FILE] [--database FILE] [--once] [--duration SECONDS]\n"
    "  quillmere-monitor [--settings FILE] hosts list\n"
    "  quillmere-monitor [--settings FILE] hosts add --host NAME --protocol PROTOCOL [--port N]\n"
    "        [--freq SECONDS] [--nickname TEXT] [--user ID] [--password TEXT] [--domain DOMAIN]\n"
    "        [--float-errors N] [--disabled]\n"
    "        [--mail-to ADDRESS] [--mail-server SERVER] [--sound FILE] [--pager SEQUENCE]\n"
    "        [--no-notify]\n"
    "  quillmere-monitor [--settings FILE] hosts remove INDEX|--host NAME\n"
    "  quillmere-monitor traceroute HOST\n"
    "\n"
    "Without a command, starts monitoring every enabled host and prints one line per\n"
    "result: time stamp, OK or FAIL, Protocol//Host:Port, response time, message.\n"
    "Every result is also appended to the results database, and the XML status\n"
    "export runs when it is enabled in the settings.\n"
    "SIGINT or SIGTERM stops monitoring and exits 0.\n"
    "\n"
    "Options:\n"
    "  --settings FILE     use this settings file instead of the per-user one\n"
    "  --database FILE     results database file instead of the configured one\n"
    "  --once              poll each enabled host once; exit 0 when every first\n"
    "                      result succeeded, 1 otherwise\n"
    "  --duration SECONDS  stop monitoring after this many seconds\n"
    "  --help              show this text\n"
    "  --version           show the version\n"
    "\n"
    "--mail-to, --sound and --pager each switch that notification (and notification\n"
    "itself) on for the new host; --no-notify keeps notification off.\n"
    "\n"
    "Exit codes: 0 success, 1 a --once poll failed, 2 bad command line or input.\n";

} // namespace

int main(int argc, char** argv)
{
    // A session bus that refuses our connection must not abort the process
    // (libdbus does so by default when Qt drops such a connection).
    qputenv("DBUS_FATAL_WARNINGS", "0");
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Dravenholt"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillmere"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMERE_VERSION));

    using namespace qm::cli;
    QStringList args = QCoreApplication::arguments().mid(1);

    // Global options come before the command word.
    QString settingsFile;
    RunOptions run;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString opt = args.takeFirst();
        if (opt == QLatin1String("--help") || opt == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        if (opt == QLatin1String("--version")) {
            PrintOut(QStringLiteral("quillmere-monitor %1").arg(QCoreApplication::applicationVersion()));
            return kExitOk;
        }
        if (opt == QLatin1String("--once")) {
            run.once = true;
            continue;
        }
        if (opt != QLatin1String("--settings") && opt != QLatin1String("--duration")
            && opt != QLatin1String("--database")) {
            PrintError(QStringLiteral("unknown option %1 (see --help)").arg(opt));
            return kExitUsage;
        }
        if (args.isEmpty()) {
            PrintError(QStringLiteral("option %1 needs a value").arg(opt));
            return kExitUsage;
        }
        const QString value = args.takeFirst();
        if (opt == QLatin1String("--settings")) {
            settingsFile = value;
        } else if (opt == QLatin1String("--database")) {
            run.databaseFile = value;
        } else {
            const auto seconds = ParseNumber(value, 1, 365 * 86400);
            if (!seconds) {
                PrintError(QStringLiteral("--duration takes a number of seconds"));
                return kExitUsage;
            }
            run.durationSeconds = *seconds;
        }
    }

    qm::SettingsStore store(settingsFile);
    if (const QString error = store.loadError(); !error.isEmpty()) {
        PrintError(error);
        return kExitUsage;
    }

    if (args.isEmpty())
        return RunMonitor(store, run);
    if (args.first() == QLatin1String("hosts"))
        return RunHostsCommand(store, args.mid(1));
    if (args.first() == QLatin1String("traceroute"))
        return RunTraceRouteCommand(args.mid(1));
    PrintError(QStringLiteral("unknown command \"%1\" (see --help)").arg(args.first()));
    return kExitUsage;
}
