#include "engine/HostRowCommands.h"

#include "engine/HostListModel.h"

#include <algorithm>
#include <functional>

namespace qm {

namespace {
bool InList(const HostListModel& model, int row)
{
    return row >= 0 && row < model.rowCount();
}
} // namespace

void ClearStats(HostListModel& model, const std::vector<int>& rows)
{
    for (int row : rows) {
        if (!InList(model, row))
            continue;
        model.setText(row, ColPolls, QStringLiteral("0"));
        model.setText(row, ColFailures, QStringLiteral("0"));
        model.setText(row, ColPercFailure, QStringLiteral("0%"));
        model.setImage(row, kHealthNoResult);
    }
}

void SetPolling(HostListModel& model, const std::vector<int>& rows, bool enabled)
{
    for (int row : rows) {
        if (!InList(model, row))
            continue;
        model.setText(row, ColEnabled, enabled ? QStringLiteral("1") : QStringLiteral("0"));
        model.setImage(row, kHealthNoResult);
    }
}

void DeleteRows(HostListModel& model, std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows)
        if (InList(model, row))
            model.removeHost(row);
}

} // namespace qm
