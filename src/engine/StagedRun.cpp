#include "engine/StagedRun.h"

namespace qm {

std::shared_ptr<const StagedRun::Group> StagedRun::nextGroup()
{
    if (m_toStart.empty() || m_lastGroupSize == kGroupSize) {
        auto group = std::make_shared<Group>();
        m_toStart.push_back(group);
        m_toWake.push_back(std::move(group));
        m_lastGroupSize = 0;
    }
    ++m_lastGroupSize;
    return m_toStart.back();
}

void StagedRun::giveBack()
{
    if (m_lastGroupSize > 0)
        --m_lastGroupSize;
}

bool StagedRun::step(bool stopping)
{
    if (!m_toStart.empty()) {
        m_toStart.front()->gate.open();
        m_toStart.pop_front();
        return true;
    }
    if (!stopping || m_toWake.empty())
        return false;
    m_toWake.front()->wake.cancel();
    m_toWake.pop_front();
    return true;
}

void StagedRun::finish(bool stopping)
{
    while (!m_toStart.empty() || (stopping && !m_toWake.empty()))
        step(stopping);
}

} // namespace qm
