#pragma once

#include "store/HostColumns.h"

#include <QString>

#include <array>
#include <vector>

namespace qm {

class SettingsStore;

// Column-visibility preferences of the host list, in store order.
inline constexpr std::array<std::string_view, 11> kColumnPreferenceNames{
    "ViewColFailures", "ViewColFreq", "ViewColNickname", "ViewColMessage", "ViewColPercFailure",
    "ViewColPolls", "ViewColPort", "ViewColProtocol", "ViewColResponsetime", "ViewColThreadstatus",
    "ViewColUserID"};
// The host-list column each preference governs.
inline constexpr std::array<HostColumn, 11> kColumnPreferenceColumns{
    ColFailures, ColFreq, ColNickname, ColMessage, ColPercFailure, ColPolls,
    ColPort, ColProtocol, ColResponseTime, ColThreadStatus, ColUserId};

struct ColumnPreferences
{
    std::array<bool, 11> shown{true, true, true, true, true, true, true, true, true, true, true};
};

// More hosts than a "Count" may name: above it the count is taken as damage.
inline constexpr int kHostCountLimit = 10000;
// The poll frequency of a host whose own cannot be read.
inline constexpr int kDefaultHostFrequency = 120;

// Reads "HOSTS": every host section in order; a value missing from one host
// repeats the previous host's. Run-time columns start as a stopped host's.
// Damage is survived and told through the store's load warnings: a "Count"
// that is not a number from 0 to kHostCountLimit reads the stored sections
// only; a frequency that is not a whole number of seconds (negative,
// missing, text) becomes kDefaultHostFrequency. "Freq" is kept as "%d sec".
std::vector<HostTexts> LoadHosts(const SettingsStore& store);
// Writes every host in order and the new "Count"; higher sections are left alone.
void SaveHosts(SettingsStore& store, const std::vector<HostTexts>& hosts);

ColumnPreferences LoadColumnPreferences(const SettingsStore& store);
void SaveColumnPreferences(SettingsStore& store, const ColumnPreferences& prefs);

// A new host as the host wizard's Insert fills it from the configured
// defaults: the caller sets host, address, protocol and port.
HostTexts NewHostFromDefaults(const SettingsStore& store);

// Run-time columns of a stopped host with fresh statistics.
void ResetRuntimeColumns(HostTexts& texts, const QString& percentText);

} // namespace qm
