#pragma once

#include <chrono>
#include <functional>

namespace qm::test {

// Runs the Qt event loop until done() holds or the timeout passes; returns
// whether it held.
bool PumpEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

} // namespace qm::test
