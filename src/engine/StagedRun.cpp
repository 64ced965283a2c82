#include "engine/StagedRun.h"

namespace qm {

std::shared_ptr<const StagedRun::Group> StagedRun::nextGroup()
{
    if (m_groups.empty() || m_lastGroupSize == kGroupSize) {
        m_groups.push_back(std::make_shared<Group>());
        m_lastGroupSize = 0;
    }
    ++m_lastGroupSize;
    return m_groups.back();
}

bool StagedRun::step(bool stopping)
{
    if (m_opened < m_groups.size())
        m_groups[m_opened++]->gate.open();
    else if (stopping && m_woken < m_groups.size())
        m_groups[m_woken++]->wake.cancel();
    return left(stopping);
}

void StagedRun::finish(bool stopping)
{
    while (step(stopping)) {
    }
}

} // namespace qm
