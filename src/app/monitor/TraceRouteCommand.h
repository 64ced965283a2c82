#pragma once

#include <QStringList>

namespace qm::cli {

// "traceroute HOST": prints the trace route report of a host.
int RunTraceRouteCommand(const QStringList& args);

} // namespace qm::cli
