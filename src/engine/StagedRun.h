#pragma once

#include "platform/CancelToken.h"
#include "platform/StartGate.h"

#include <cstddef>
#include <memory>
#include <vector>

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

    // One step: the next group's gate opens, or once every gate is open and
    // when stopping, the next group's sleepers wake. True while steps are
    // left to take.
    bool step(bool stopping);
    // Takes every step left.
    void finish(bool stopping);

private:
    bool left(bool stopping) const { return m_opened < m_groups.size() || (stopping && m_woken < m_groups.size()); }

    std::vector<std::shared_ptr<Group>> m_groups;
    std::size_t m_opened = 0;
    std::size_t m_woken = 0;
    std::size_t m_lastGroupSize = 0;
};

} // namespace qm
