#pragma once

#include <cstdint>

namespace qm {

// Our own identifier of the calling thread: handed out in sequence from 1 and
// never reused within the process, so a late event of an ended thread can
// never be taken for a new thread's. Never 0.
uint32_t CurrentThreadId();

// Takes the next identifier for a thread about to be created; that thread
// makes it its own with AdoptThreadId() before anything else.
uint32_t ReserveThreadId();
void AdoptThreadId(uint32_t id);

} // namespace qm
