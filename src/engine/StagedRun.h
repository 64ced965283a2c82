#pragma once

#include "platform/CancelToken.h"
#include "platform/StartGate.h"

#include <cstddef>
#include <deque>
#include <memory>

namespace qm {

// The threads of a monitoring run in groups, in start order. After Start the
// groups go one after the other, and after Stop their sleepers are woken one
// group after the other, each step when the main thread has handled a batch
// (or a short time has passed): ten thousand workers made runnable at once
// would leave the main thread a ten thousandth of the CPU while their
// reports pile up.
class StagedRun
{
public:
    static constexpr std::size_t kGroupSize = 256;

    struct Group
    {
        StartGate gate; // the group's threads wait here before their first poll
        CancelToken wake; // ends the sleep of the group's workers after Stop
    };

    // The group of the next thread started.
    std::shared_ptr<const Group> nextGroup();
    // The last group handed out went to no thread (it could not be created).
    void giveBack();

    // One step: the next group's gate opens, or once every gate is open and
    // stopping() is set, the next group's sleepers wake. False when nothing
    // is left to do.
    bool step(bool stopping);
    // Every gate opens; with stopping, every sleeper wakes too.
    void finish(bool stopping);
    bool done(bool stopping) const { return m_toStart.empty() && (!stopping || m_toWake.empty()); }

private:
    std::deque<std::shared_ptr<Group>> m_toStart;
    std::deque<std::shared_ptr<Group>> m_toWake;
    std::size_t m_lastGroupSize = 0;
};

} // namespace qm
