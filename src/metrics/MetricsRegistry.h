#pragma once

#include <QHash>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qm {

// The labels an entry's series carry.
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
    uint64_t id = 0; // the entry's own number, see MetricsRunEntry
    MetricsLabels labels;
    bool labelsShared = false; // another entry of the list has the same labels
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

// One entry of the host list as a monitoring run starts.
struct MetricsRunEntry
{
    // Stays the entry's for as long as it is in the list, whatever its labels
    // or place; several entries may have the same labels.
    uint64_t id = 0;
    // The entry's worker in this run (its results come with it); 0: none.
    uint32_t worker = 0;
    MetricsLabels labels;
};

// The figures the main thread publishes as it handles results, read by the
// HTTP server's thread. An entry appears with its first result. Updates take
// one hash look-up and a short uncontended lock; a reader copies the entries
// under the same lock and renders outside it.
class MetricsRegistry
{
public:
    // Main thread, as a run starts: the whole list. Entries no longer in it,
    // or whose labels changed (edited), are dropped; the others keep their
    // figures.
    void startRun(const std::vector<MetricsRunEntry>& entries);
    // Main thread: one handled result of the entry whose worker this is (a
    // worker of no entry of the run only counts as handled).
    void recordResult(uint32_t worker, bool success, bool down, int health, int responseMs);
    // Main thread: a result that belongs to no entry.
    void countUnmatchedResult() { m_resultsHandled.fetch_add(1, std::memory_order_relaxed); }
    // The events waiting for the main thread when it last took them.
    void setQueueDepth(std::size_t depth) { m_queueDepth.store(depth, std::memory_order_relaxed); }
    // Main thread: the results database's count of results not written.
    void setDatabaseWriteErrors(uint64_t count) { m_databaseWriteErrors.store(count, std::memory_order_relaxed); }
    // Any thread.
    MetricsSnapshot snapshot() const;

private:
    struct RunSlot
    {
        uint64_t id = 0;
        MetricsLabels labels;
        bool labelsShared = false;
        std::size_t index = kNoEntry; // in m_entries once it has a result
    };
    static constexpr std::size_t kNoEntry = ~std::size_t(0);

    QHash<uint32_t, RunSlot> m_run; // by worker; main thread only
    mutable std::mutex m_lock;      // guards m_entries
    std::vector<MetricsEntry> m_entries;
    std::atomic<uint64_t> m_resultsHandled{0};
    std::atomic<uint64_t> m_queueDepth{0};
    std::atomic<uint64_t> m_databaseWriteErrors{0};
};

} // namespace qm
