#include "metrics/MetricsRegistry.h"

#include <QSet>

namespace qm {

size_t qHash(const MetricsLabels& l, size_t seed) noexcept
{
    return qHashMulti(seed, l.host, l.protocol, l.port, l.nickname);
}

void MetricsRegistry::recordResult(const MetricsLabels& labels, bool success, bool down, int health,
                                   int responseMs)
{
    m_resultsHandled.fetch_add(1, std::memory_order_relaxed);
    auto it = m_index.constFind(labels);
    std::lock_guard lock(m_lock);
    if (it == m_index.cend()) {
        it = m_index.insert(labels, m_entries.size());
        m_entries.push_back(MetricsEntry{labels});
    }
    MetricsEntry& e = m_entries[*it];
    e.up = success;
    e.down = down;
    e.health = health;
    if (success)
        e.responseSeconds = responseMs / 1000.0;
    ++e.polls;
    if (!success)
        ++e.failures;
}

void MetricsRegistry::retainOnly(const std::vector<MetricsLabels>& current)
{
    const QSet<MetricsLabels> keep(current.begin(), current.end());
    std::lock_guard lock(m_lock);
    std::erase_if(m_entries, [&](const MetricsEntry& e) { return !keep.contains(e.labels); });
    m_index.clear();
    for (std::size_t i = 0; i < m_entries.size(); ++i)
        m_index.insert(m_entries[i].labels, i);
}

MetricsSnapshot MetricsRegistry::snapshot() const
{
    MetricsSnapshot s;
    {
        std::lock_guard lock(m_lock);
        s.entries = m_entries;
    }
    s.resultsHandled = m_resultsHandled.load(std::memory_order_relaxed);
    s.queueDepth = m_queueDepth.load(std::memory_order_relaxed);
    s.databaseWriteErrors = m_databaseWriteErrors.load(std::memory_order_relaxed);
    return s;
}

} // namespace qm
