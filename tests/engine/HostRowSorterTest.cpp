#include "EngineFixture.h"

#include "engine/HostRowSorter.h"

#include <QPersistentModelIndex>

#include <chrono>

namespace qm::test {
namespace {

// The rows' item data (100 + original row) from top to bottom.
std::vector<int> Order(const HostListModel& m)
{
    std::vector<int> out;
    for (int r = 0; r < m.rowCount(); ++r)
        out.push_back(static_cast<int>(m.itemData(r)) - 100);
    return out;
}

TEST(HostRowSorterTest, EachHeaderSortUsesTheNextModeOnceWhateverTheRowCount)
{
    struct Case
    {
        int column;
        std::vector<QString> texts;
        std::vector<std::vector<int>> orders; // expected, per mode 0..3
    };
    const std::vector<Case> cases{
        // Case-insensitive: "alpha3" before "Mail1"; reversed: "1liam" < "2bew" < "3ahpla".
        {ColHost, {"web2", "Mail1", "alpha3"}, {{2, 1, 0}, {0, 1, 2}, {2, 0, 1}, {1, 0, 2}}},
        // Character by character: "10 msec" < "11 msec" < "120 msec" < "9 msec" < "<10 msec";
        // equal texts (rows 0/5 and 3/7) keep their order in every mode.
        {ColResponseTime,
         {"9 msec", "10 msec", "<10 msec", "Error", "120 msec", "9 msec", "35 msec", "error",
          "11 msec", "52 msec"},
         {{1, 8, 4, 6, 9, 0, 5, 2, 3, 7},
          {3, 7, 2, 0, 5, 9, 6, 4, 8, 1},
          {3, 7, 0, 5, 6, 9, 8, 4, 2, 1},
          {1, 2, 4, 8, 9, 6, 0, 5, 3, 7}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.texts.size());
        HostListModel m;
        for (std::size_t i = 0; i < c.texts.size(); ++i) {
            HostTexts t = MakeRow(QString("h%1").arg(i), "ECHO", 7);
            t[static_cast<std::size_t>(c.column)] = c.texts[i];
            m.insertHost(m.rowCount(), t, kHealthNoResult, static_cast<uint32_t>(100 + i));
        }
        HostRowSorter sorter;
        // A view's selection follows its host through the sorts.
        QPersistentModelIndex selected(m.index(1, ColMessage));

        for (int mode = 0; mode < 4; ++mode) {
            EXPECT_EQ(sorter.mode(c.column), mode);
            EXPECT_EQ(sorter.sortOnce(m, c.column), mode);
            EXPECT_EQ(Order(m), c.orders[static_cast<std::size_t>(mode)]) << "mode " << mode;
            EXPECT_EQ(selected.row(), m.findByItemData(101));
            EXPECT_EQ(selected.column(), ColMessage);
        }
        EXPECT_EQ(sorter.mode(c.column), HostRowSorter::Ascending);
        EXPECT_EQ(sorter.mode(c.column == ColHost ? ColFailures : ColHost),
                  HostRowSorter::Ascending);

        const std::vector<int> before = Order(m);
        EXPECT_EQ(sorter.sortOnce(m, ColMessage), -1);
        EXPECT_EQ(sorter.mode(ColMessage), -1);
        EXPECT_EQ(Order(m), before);

        // Rows are still found by their item data, and a float to the top works.
        for (int r = 0; r < m.rowCount(); ++r)
            EXPECT_EQ(m.findByItemData(m.itemData(r)), r);
        const int last = m.rowCount() - 1;
        const uint32_t moved = m.itemData(last);
        const QString movedText = m.text(last, c.column);
        m.moveToTop(last);
        EXPECT_EQ(m.findByItemData(moved), 0);
        EXPECT_EQ(m.text(0, c.column), movedText);
        EXPECT_EQ(m.findByItemData(static_cast<uint32_t>(100 + before[0])), 1);
    }
}

TEST(HostRowSorterTest, TenThousandRowsSortStablyAndFast)
{
    HostListModel m;
    for (int i = 0; i < 10000; ++i) {
        HostTexts t = MakeRow(QString("h%1").arg(i), "ECHO", 7, 60 + (i * 7919) % 13);
        m.insertHost(i, t, kHealthNoResult, static_cast<uint32_t>(i));
    }
    // A view watching the whole list, as a selected column would.
    std::vector<QPersistentModelIndex> watched;
    for (int i = 0; i < 10000; i += 10)
        watched.emplace_back(m.index(i, ColFreq));
    HostRowSorter sorter;
    const auto start = std::chrono::steady_clock::now();
    sorter.sortOnce(m, ColFreq);
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_LT(spent, std::chrono::milliseconds(500));
    for (int r = 1; r < m.rowCount(); ++r) {
        const int cmp = m.text(r - 1, ColFreq).compare(m.text(r, ColFreq));
        ASSERT_LE(cmp, 0) << r;
        if (cmp == 0) {
            ASSERT_LT(m.itemData(r - 1), m.itemData(r)) << r;
        }
    }
    for (std::size_t i = 0; i < watched.size(); ++i)
        EXPECT_EQ(m.itemData(watched[i].row()), 10 * i);
}

} // namespace
} // namespace qm::test
