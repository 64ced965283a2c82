#include "engine/HostRowSorter.h"

#include "engine/HostListModel.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

namespace qm {

bool HostRowSorter::isSortable(int column)
{
    switch (column) {
    case ColHost:
    case ColProtocol:
    case ColThreadStatus:
    case ColFreq:
    case ColResponseTime:
    case ColFailures:
        return true;
    default:
        return false;
    }
}

int HostRowSorter::mode(int column) const
{
    return isSortable(column) ? m_modes[static_cast<std::size_t>(column)] : -1;
}

int HostRowSorter::sortOnce(HostListModel& model, int column)
{
    if (!isSortable(column))
        return -1;
    int& current = m_modes[static_cast<std::size_t>(column)];
    const int used = current;
    current = (current + 1) % 4;

    // Texts compare case-insensitively, character by character: each row's key
    // is its folded text as code points, built once, reversed in modes 2 and 3.
    const bool reversed = used == ReversedDescending || used == ReversedAscending;
    const bool descending = used == Descending || used == ReversedDescending;
    const int count = model.rowCount();
    std::vector<std::u32string> keys(static_cast<std::size_t>(count));
    for (int row = 0; row < count; ++row) {
        std::u32string& key = keys[static_cast<std::size_t>(row)];
        key = model.text(row, column).toCaseFolded().toStdU32String();
        if (reversed)
            std::reverse(key.begin(), key.end());
    }
    std::vector<int> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys, descending](int a, int b) {
        const auto& ka = keys[static_cast<std::size_t>(a)];
        const auto& kb = keys[static_cast<std::size_t>(b)];
        return descending ? kb < ka : ka < kb;
    });
    model.reorder(order);
    return used;
}

} // namespace qm
