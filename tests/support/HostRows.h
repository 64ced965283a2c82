#pragma once

#include "store/HostColumns.h"

namespace qm::test {

// A stopped, enabled host row with the given settings and no notification,
// float errors off, as the host wizard writes it.
HostTexts MakeRow(const QString& host, const QString& protocol, int port, int freqSeconds = 120);

} // namespace qm::test
