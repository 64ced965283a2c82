#pragma once

#include "store/HostColumns.h"

#include <QString>

#include <vector>

namespace qm {
class SettingsStore;
}

namespace qm::cli {

// The hosts as CSV: a header row of the stored columns' titles, then one
// line per host with the texts the host list holds (Password in Base64).
QString HostsToCsv(const std::vector<HostTexts>& hosts);

// Reads hosts from CSV text with a header row of column titles (any order;
// Host and Protocol required, other stored columns optional and taken from
// the new-host defaults when left out). Every line is checked as "hosts add"
// checks its options; a host without an Address is looked up. On the first
// bad line returns false with `error` naming it ("line N: ...") and leaves
// `hosts` empty.
bool HostsFromCsv(const SettingsStore& store, const QString& text, std::vector<HostTexts>& hosts,
                  QString& error);

} // namespace qm::cli
