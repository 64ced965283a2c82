#pragma once

#include "engine/HostListModel.h"

#include <QObject>
#include <QString>

class QTimer;

namespace qm {

class MonitorController;

// What the tray shows of the host list. Only monitored rows count: while
// monitoring runs, the rows whose item data is a worker's thread identifier
// (disabled rows and rows whose worker could not start have 0). Of those:
// - down: "Float Stat" is non-zero, the engine's own down state (set when the
//   row went down and its down notifications went out, cleared by the next
//   success together with the up notifications), or the health is at its
//   worst (a row without float errors that keeps failing never gets the
//   down state, yet is down to the operator);
// - up: every other monitored row.
// The worst health is the highest level 0..11 among them; with no monitored
// row, or none that has a result yet, it is the no-result level 12.
struct TraySummary
{
    int worstHealth = kHealthNoResult;
    int up = 0;
    int down = 0;
    bool operator==(const TraySummary&) const = default;
};

// Follows the host list and the monitoring state and keeps the summary
// current. Model changes are coalesced: the rows are read again at most once
// per kCoalesceMs, however many cells change meanwhile. Main thread only.
class TrayState : public QObject
{
    Q_OBJECT

public:
    static constexpr int kCoalesceMs = 250;

    TrayState(HostListModel& hosts, MonitorController& controller, QObject* parent = nullptr);
    ~TrayState() override;

    const TraySummary& summary() const { return m_summary; }

    static TraySummary Summarize(const HostListModel& hosts, bool monitoring);
    // "N up, M down".
    static QString ToolTip(const TraySummary& summary);

Q_SIGNALS:
    // The summary differs from the last one.
    void changed(const qm::TraySummary& summary);

private:
    void schedule();
    void refresh();

    HostListModel& m_hosts;
    MonitorController& m_controller;
    QTimer* m_timer;
    TraySummary m_summary;
};

} // namespace qm
