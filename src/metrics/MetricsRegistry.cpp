#include "metrics/MetricsRegistry.h"

namespace qm {

size_t qHash(const MetricsLabels& l, size_t seed) noexcept
{
    return qHashMulti(seed, l.host, l.protocol, l.port, l.nickname);
}

void MetricsRegistry::startRun(const std::vector<MetricsRunEntry>& entries)
{
    QHash<MetricsLabels, int> uses;
    QHash<uint64_t, const MetricsRunEntry*> byId;
    for (const MetricsRunEntry& e : entries) {
        ++uses[e.labels];
        byId.insert(e.id, &e);
    }
    auto shared = [&](const MetricsLabels& labels) { return uses.value(labels) > 1; };

    std::lock_guard lock(m_lock);
    std::erase_if(m_entries, [&](const MetricsEntry& e) {
        const MetricsRunEntry* now = byId.value(e.id);
        return now == nullptr || now->labels != e.labels;
    });
    QHash<uint64_t, std::size_t> indexOf;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        m_entries[i].labelsShared = shared(m_entries[i].labels);
        indexOf.insert(m_entries[i].id, i);
    }
    m_run.clear();
    for (const MetricsRunEntry& e : entries)
        if (e.worker != 0)
            m_run.insert(e.worker, {e.id, e.labels, shared(e.labels), indexOf.value(e.id, kNoEntry)});
}

void MetricsRegistry::recordResult(uint32_t worker, bool success, bool down, int health, int responseMs)
{
    m_resultsHandled.fetch_add(1, std::memory_order_relaxed);
    const auto slot = m_run.find(worker);
    if (slot == m_run.end())
        return;
    std::lock_guard lock(m_lock);
    if (slot->index == kNoEntry) {
        slot->index = m_entries.size();
        m_entries.push_back(MetricsEntry{slot->id, slot->labels, slot->labelsShared});
    }
    MetricsEntry& e = m_entries[slot->index];
    e.up = success;
    e.down = down;
    e.health = health;
    if (success)
        e.responseSeconds = responseMs / 1000.0;
    ++e.polls;
    if (!success)
        ++e.failures;
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
