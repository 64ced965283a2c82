#pragma once

#include <QStringList>

namespace qm {
class SettingsStore;
}

namespace qm::cli {

// "hosts list|add|remove|import|export": edits the monitored hosts in the settings store.
int RunHostsCommand(SettingsStore& store, const QStringList& args);

} // namespace qm::cli
