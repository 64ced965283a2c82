#pragma once

#include <cstdint>

namespace qm {

// The operating-system identifier of the calling thread; never 0.
uint32_t CurrentThreadId();

} // namespace qm
