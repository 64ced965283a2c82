#pragma once

#include "metrics/ListenAddress.h"

#include <QString>

#include <optional>

namespace qm {
class SettingsStore;
}

namespace qm::cli {

struct RunOptions
{
    bool once = false;      // poll each enabled host once, then stop
    int durationSeconds = 0; // 0: until SIGINT/SIGTERM
    QString databaseFile;    // results database file or postgresql:// URL instead of the configured one
    std::optional<ListenAddress> metricsListen; // serve Prometheus metrics there
};

// Loads the hosts, monitors them and prints one line per result. At the end
// (--once, --duration, SIGINT or SIGTERM) it waits, at most
// MonitorSystem::kExitBoundMs, for the notifications queued so far and an
// XML upload under way, printing what it waits for; a second signal gives
// them up. Returns the process exit code.
int RunMonitor(SettingsStore& store, const RunOptions& options);

// A text as one field of a result line: a backslash, line feed, carriage
// return and tab become \\, \n, \r and \t, other control characters \xNN.
QString OneLineField(const QString& text);

} // namespace qm::cli
