#pragma once

#include "probes/ProbeResult.h"
#include "store/HostColumns.h"

#include <initializer_list>
#include <memory>
#include <utility>

namespace qm::test {

// A stopped, enabled host row with the given settings and no notification,
// float errors off, as the host wizard writes it.
HostTexts MakeRow(const QString& host, const QString& protocol, int port, int freqSeconds = 120);

// Expects each listed column of `row` to hold its text.
void ExpectColumns(const HostTexts& row, std::initializer_list<std::pair<int, QString>> expected);

// A probe's result as a worker posts it.
std::unique_ptr<ProbeResult> MakeResult(const std::string& message, uint32_t ms = 0, bool warning = false);

} // namespace qm::test
