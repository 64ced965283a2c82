#pragma once

#include "store/HostColumns.h"

#include <array>

namespace qm {

class HostListModel;

// One-time reorders of the host list by a column's text (the header-click
// sort). Each sortable column keeps its own mode, which advances by one with
// every sort of that column.
class HostRowSorter
{
public:
    enum Mode
    {
        Ascending = 0,
        Descending = 1,
        ReversedDescending = 2,
        ReversedAscending = 3
    };

    // Columns 0 "Host", 3 "Protocol", 5 "Thread Status", 6 "Freq",
    // 7 "Response Time", 10 "Failures".
    static bool isSortable(int column);

    // Sorts the rows once by the column's text in the column's current mode,
    // then advances that column's mode (0->1->2->3->0). Returns the mode used,
    // or -1 for a column that does not sort (nothing changes then).
    int sortOnce(HostListModel& model, int column);
    // The mode the next sortOnce(column) will use; -1 for a column that does
    // not sort.
    int mode(int column) const;

private:
    std::array<int, kHostColumnCount> m_modes{};
};

} // namespace qm
