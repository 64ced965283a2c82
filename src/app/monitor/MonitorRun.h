#pragma once

#include <QString>

namespace qm {
class SettingsStore;
}

namespace qm::cli {

struct RunOptions
{
    bool once = false;      // poll each enabled host once, then stop
    int durationSeconds = 0; // 0: until SIGINT/SIGTERM
    QString databaseFile;    // results database instead of the configured one
};

// Loads the hosts, monitors them and prints one line per result. Returns the
// process exit code.
int RunMonitor(SettingsStore& store, const RunOptions& options);

} // namespace qm::cli
