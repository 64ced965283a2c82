#pragma once

#include <vector>

namespace qm {

class HostListModel;

// Commands of the host list on a set of rows (row indexes of the model).
// Indexes outside the list are ignored.

// Statistics of the rows back to fresh: "Polls" "0", "Failures" "0",
// "%Failure" "0%", image 12. "Float Stat", "Message" and "Response Time" stay
// as they are, so a host that is down still comes up on its next success.
void ClearStats(HostListModel& model, const std::vector<int>& rows);

// "Enabled" := "1" or "0" and image 12 for each row; it takes effect at the
// next start of monitoring.
void SetPolling(HostListModel& model, const std::vector<int>& rows, bool enabled);

// Deletes the rows (any order, duplicates ignored) from the bottom one upward,
// so every index still names the row it named before.
void DeleteRows(HostListModel& model, std::vector<int> rows);

} // namespace qm
