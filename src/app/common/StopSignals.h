#pragma once

#include <functional>

class QObject;

namespace qm::app {

// Turns SIGINT and SIGTERM into a call of `handler` from the event loop of
// `context`'s thread, never inside the signal handler itself. Returns false
// when the signals could not be routed (they then keep their default).
bool RouteStopSignals(QObject* context, std::function<void()> handler);

// Gives SIGINT and SIGTERM their default action back.
void RestoreStopSignals();

} // namespace qm::app
