#pragma once

#include <QHash>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qm {

// What identifies an entry in the metrics: its labels.
struct MetricsLabels
{
    QString host;
    QString protocol;
    QString port;
    QString nickname;
    bool operator==(const MetricsLabels&) const = default;
};
size_t qHash(const MetricsLabels& labels, size_t seed = 0) noexcept;

// The figures of one entry after its last result.
struct MetricsEntry
{
    MetricsLabels labels;
    bool up = false;             // the last result succeeded
    bool down = false;           // the entry is floated down
    int health = 0;              // health level 0..12
    double responseSeconds = -1; // of the last success; < 0: none yet
    uint64_t polls = 0;
    uint64_t failures = 0;
};

struct MetricsSnapshot
{
    std::vector<MetricsEntry> entries; // in order of their first result
    uint64_t resultsHandled = 0;
    uint64_t queueDepth = 0;
    uint64_t databaseWriteErrors = 0;
};

// The figures the main thread publishes as it handles results, read by the
// HTTP server's thread. An entry appears with its first result. Updates take
// one hash look-up and a short uncontended lock; a reader copies the entries
// under the same lock and renders outside it.
class MetricsRegistry
{
public:
    // Main thread: one handled result of an entry.
    void recordResult(const MetricsLabels& labels, bool success, bool down, int health, int responseMs);
    // Main thread: a result that belongs to no entry.
    void countUnmatchedResult() { m_resultsHandled.fetch_add(1, std::memory_order_relaxed); }
    // The events waiting for the main thread when it last took them.
    void setQueueDepth(std::size_t depth) { m_queueDepth.store(depth, std::memory_order_relaxed); }
    // Main thread: the results database's count of results not written.
    void setDatabaseWriteErrors(uint64_t count) { m_databaseWriteErrors.store(count, std::memory_order_relaxed); }
    // Main thread: drops the entries whose labels are not in the list (hosts
    // removed or edited); the others keep their figures.
    void retainOnly(const std::vector<MetricsLabels>& current);

    // Any thread.
    MetricsSnapshot snapshot() const;

private:
    QHash<MetricsLabels, std::size_t> m_index; // main thread only
    mutable std::mutex m_lock;                 // guards m_entries
    std::vector<MetricsEntry> m_entries;
    std::atomic<uint64_t> m_resultsHandled{0};
    std::atomic<uint64_t> m_queueDepth{0};
    std::atomic<uint64_t> m_databaseWriteErrors{0};
};

} // namespace qm
