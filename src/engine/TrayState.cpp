#include "engine/TrayState.h"

#include "engine/MonitorController.h"

#include <QTimer>

#include <algorithm>

namespace qm {

TrayState::TrayState(HostListModel& hosts, MonitorController& controller, QObject* parent)
    : QObject(parent), m_hosts(hosts), m_controller(controller), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(kCoalesceMs);
    connect(m_timer, &QTimer::timeout, this, &TrayState::refresh);

    connect(&hosts, &QAbstractItemModel::dataChanged, this, &TrayState::schedule);
    connect(&hosts, &QAbstractItemModel::rowsInserted, this, &TrayState::schedule);
    connect(&hosts, &QAbstractItemModel::rowsRemoved, this, &TrayState::schedule);
    connect(&hosts, &QAbstractItemModel::rowsMoved, this, &TrayState::schedule);
    connect(&hosts, &QAbstractItemModel::modelReset, this, &TrayState::schedule);
    connect(&hosts, &QAbstractItemModel::layoutChanged, this, &TrayState::schedule);
    connect(&controller, &MonitorController::monitoringStarted, this, &TrayState::schedule);
    connect(&controller, &MonitorController::monitoringStopped, this, &TrayState::schedule);

    m_summary = Summarize(m_hosts, m_controller.isMonitoring());
}

TrayState::~TrayState() = default;

TraySummary TrayState::Summarize(const HostListModel& hosts, bool monitoring)
{
    TraySummary s;
    if (!monitoring)
        return s;
    int worst = -1;
    const int rows = hosts.rowCount();
    for (int row = 0; row < rows; ++row) {
        if (hosts.itemData(row) == 0)
            continue;
        const int level = hosts.image(row);
        if (ColumnNumber(hosts.text(row, ColFloatStat)) != 0 || level == kHealthWorst)
            ++s.down;
        else
            ++s.up;
        if (level >= 0 && level <= kHealthWorst)
            worst = std::max(worst, level);
    }
    s.worstHealth = worst < 0 ? kHealthNoResult : worst;
    return s;
}

QString TrayState::ToolTip(const TraySummary& summary)
{
    return QStringLiteral("%1 up, %2 down").arg(summary.up).arg(summary.down);
}

void TrayState::schedule()
{
    // A pending read covers this change too.
    if (!m_timer->isActive())
        m_timer->start();
}

void TrayState::refresh()
{
    const TraySummary next = Summarize(m_hosts, m_controller.isMonitoring());
    if (next == m_summary)
        return;
    m_summary = next;
    Q_EMIT changed(m_summary);
}

} // namespace qm
