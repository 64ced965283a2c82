// quillmere-monitor: the headless runner. Monitors the hosts of the settings
// store without a display and prints every result; also edits the host list.

#include "app/monitor/CommandLine.h"
#include "app/monitor/HostsCommand.h"
#include "app/monitor/LogCommand.h"
#include "app/monitor/MonitorRun.h"
#include "app/monitor/TraceRouteCommand.h"
#include "store/DatabaseTarget.h"
#include "store/SettingsStore.h"
#include "tools/DnsProbe.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const char kUsage[] =
    "Usage:\n"
    "  quillmere-monitor [--settings FILE] [--database FILE | --database-url URL] [--once]\n"
    "        [--duration SECONDS] [--metrics-listen ADDRESS:PORT]\n"
    "  quillmere-monitor [--settings FILE] hosts list\n"
    "  quillmere-monitor [--settings FILE] hosts add --host NAME --protocol PROTOCOL [--port N]\n"
    "        [--freq SECONDS] [--nickname TEXT] [--user ID] [--password TEXT] [--domain DOMAIN]\n"
    "        [--query-name NAME] [--float-errors N] [--disabled]\n"
    "        [--mail-to ADDRESS] [--mail-server SERVER] [--sound FILE] [--pager SEQUENCE]\n"
    "        [--no-notify]\n"
    "  quillmere-monitor [--settings FILE] hosts remove INDEX|--host NAME\n"
    "  quillmere-monitor [--settings FILE] hosts import FILE\n"
    "  quillmere-monitor [--settings FILE] hosts export\n"
    "  quillmere-monitor [--settings FILE] [--database FILE|--database-url URL] log hosts\n"
    "  quillmere-monitor [--settings FILE] [--database FILE|--database-url URL] log show\n"
    "        HOST PROTOCOL PORT\n"
    "  quillmere-monitor [--settings FILE] [--database FILE|--database-url URL] log clear\n"
    "  quillmere-monitor [--settings FILE] [--database FILE|--database-url URL] log prune --days N\n"
    "  quillmere-monitor traceroute HOST\n"
    "\n"
    "Without a command, starts monitoring every enabled host and prints one line per\n"
    "result: time stamp, OK or FAIL, Protocol//Host:Port, response time, message,\n"
    "separated by tabs. Line breaks, tabs and other control characters in a field\n"
    "are shown as \\n, \\r, \\t and \\xNN, a backslash as \\\\ (the database keeps the\n"
    "text as received). Every result is also appended to the results database, and\n"
    "the XML status export runs when it is enabled in the settings.\n"
    "SIGINT or SIGTERM stops monitoring and exits 0. Before exiting (also after\n"
    "--once and --duration) it waits up to 120 s for the notifications already\n"
    "queued and an XML upload under way, printing what it waits for to stderr;\n"
    "a second SIGINT or SIGTERM abandons them and prints what was abandoned.\n"
    "\n"
    "Options:\n"
    "  --settings FILE     use this settings file instead of the per-user one\n"
    "  --database FILE     results database file instead of the configured one\n"
    "  --database-url URL  results database on a PostgreSQL server instead:\n"
    "                      postgresql://user@host:port/name; the password comes from\n"
    "                      the settings (\"PASSWORD\" of \"ConfigDatabase\"), from\n"
    "                      PGPASSWORD or from ~/.pgpass, never from the command line\n"
    "  --once              poll each enabled host once; exit 0 when every first\n"
    "                      result succeeded, 1 otherwise\n"
    "  --duration SECONDS  stop monitoring after this many seconds\n"
    "  --metrics-listen ADDRESS:PORT\n"
    "                      serve Prometheus metrics at http://ADDRESS:PORT/metrics\n"
    "                      (an IPv4 address, [IPv6 address] or host name; use a\n"
    "                      loopback address unless others must scrape it)\n"
    "  --help              show this text\n"
    "  --version           show the version\n"
    "\n"
    "hosts add:\n"
    "  --user ID           the login; for SMTP and ESMTP the HELO/EHLO name and the\n"
    "                      first part of the envelope address. With no user id,\n"
    "                      SMTP and ESMTP greet with the machine's host name (as\n"
    "                      `hostname -f` gives it)\n"
    "  --domain DOMAIN     SMTP, ESMTP, POP3, IMAP4: the e-mail domain, including its\n"
    "                      \"@\" (@example.org); SMTP and ESMTP join it to the user\n"
    "                      id as it is for the envelope address. A domain without\n"
    "                      the \"@\" is added with a warning\n"
    "  --query-name NAME   DNS only: the name the query asks for (kept in the entry's\n"
    "                      Domain field). Without it, the \"QUERY_NAME\" of \"ConfigDNS\"\n"
    "                      in the settings is asked for, and without that the built-in\n"
    "                      name %s\n"
    "  --mail-to, --sound and --pager each switch that notification (and notification\n"
    "  itself) on for the new host; --no-notify keeps notification off.\n"
    "\n"
    "hosts import FILE adds the hosts of a CSV file (a header row of column titles\n"
    "as \"hosts export\" writes them, Host and Protocol required, the others\n"
    "optional) checked as \"hosts add\" checks them; one bad line rejects the whole\n"
    "file, naming the line, and leaves the hosts as they were. hosts export\n"
    "writes every host as CSV to standard output (Password in its Base64 form).\n"
    "\n"
    "log hosts lists the hosts of the results database; log show prints one\n"
    "service's results in time order with their average response time and count;\n"
    "log clear deletes every result; log prune --days N deletes the results older\n"
    "than N days (\"KEEP_DAYS\" of \"ConfigDatabase\" does so while monitoring).\n"
    "A database file is held by one program at a time: stop monitoring first\n"
    "(a PostgreSQL database is shared by any number of programs).\n"
    "\n"
    "Exit codes: 0 success; 1 a --once poll failed, the settings file could not\n"
    "be written, results could not be recorded, or the metrics address cannot be\n"
    "listened on; 2 bad command line or input.\n";

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
            std::printf(kUsage, qm::DefaultDnsQueryName().c_str());
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
            && opt != QLatin1String("--database") && opt != QLatin1String("--database-url")
            && opt != QLatin1String("--metrics-listen")) {
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
        } else if (opt == QLatin1String("--database") || opt == QLatin1String("--database-url")) {
            // A URL is judged the same whichever option carries it.
            QString error;
            if ((opt == QLatin1String("--database-url") || qm::IsDatabaseUrl(value))
                && !qm::ParseDatabaseUrl(value, &error)) {
                PrintError(error);
                return kExitUsage;
            }
            if (!run.databaseFile.isEmpty()) {
                PrintError(QStringLiteral("one results database at most (see --help)"));
                return kExitUsage;
            }
            run.databaseFile = value;
        } else if (opt == QLatin1String("--metrics-listen")) {
            QString error;
            run.metricsListen = qm::ParseListenAddress(value, &error);
            if (!run.metricsListen) {
                PrintError(QStringLiteral("--metrics-listen: ") + error);
                return kExitUsage;
            }
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
    if (args.first() == QLatin1String("log"))
        return RunLogCommand(store, run.databaseFile, args.mid(1));
    if (args.first() == QLatin1String("traceroute"))
        return RunTraceRouteCommand(args.mid(1));
    PrintError(QStringLiteral("unknown command \"%1\" (see --help)").arg(args.first()));
    return kExitUsage;
}
