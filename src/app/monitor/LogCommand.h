#pragma once

#include <QString>
#include <QStringList>

namespace qm {
class SettingsStore;
}

namespace qm::cli {

// "log hosts|show|clear|prune": the log viewer's queries on the results
// database (`databaseFile`, a file or a postgresql:// URL, else the
// configured one), without a display.
int RunLogCommand(SettingsStore& store, const QString& databaseFile, const QStringList& args);

} // namespace qm::cli
