// The host list and the message pane models.

#include "EngineFixture.h"

namespace qm::test {
namespace {

TEST(HostListModelTest, FindsRowsByItemDataAsTheyMove)
{
    HostListModel m;
    for (int i = 0; i < 5; ++i)
        m.insertHost(i, MakeRow(QString("h%1").arg(i), "ECHO", 7), kHealthNoResult, 10 + i);
    EXPECT_EQ(m.findByItemData(14), 4);
    m.moveToTop(4);
    EXPECT_EQ(m.findByItemData(14), 0);
    EXPECT_EQ(m.findByItemData(10), 1);
    m.removeHost(1);
    EXPECT_EQ(m.findByItemData(10), -1);
    EXPECT_EQ(m.findByItemData(11), 1);
    m.setItemData(1, 99);
    EXPECT_EQ(m.findByItemData(11), -1);
    EXPECT_EQ(m.findByItemData(99), 1);
    // With a duplicate the first row wins, as a search from the top would.
    m.setItemData(3, 99);
    EXPECT_EQ(m.findByItemData(99), 1);
    m.insertHost(0, MakeRow("new", "ECHO", 7), kHealthNoResult, 99);
    EXPECT_EQ(m.findByItemData(99), 0);
    // 0 is "no thread": the first such row, and a cleared row no longer
    // answers to its old identifier.
    EXPECT_EQ(m.findByItemData(0), -1);
    m.setItemData(3, 0);
    m.setItemData(4, 0);
    EXPECT_EQ(m.findByItemData(0), 3);
    EXPECT_EQ(m.findByItemData(12), -1);
    m.moveToTop(4);
    EXPECT_EQ(m.findByItemData(0), 0);
}

TEST(HostListModelTest, ShowsTitlesTextsAndCheckState)
{
    HostListModel m;
    m.insertHost(0, MakeRow("web", "HTTP", 80));
    EXPECT_EQ(m.headerData(11, Qt::Horizontal).toString(), "%Failure");
    EXPECT_EQ(m.headerData(26, Qt::Horizontal).toString(), "Notify Pager Sequence");
    EXPECT_EQ(m.data(m.index(0, ColProtocol)).toString(), "HTTP");
    EXPECT_EQ(m.data(m.index(0, 0), Qt::CheckStateRole).toInt(), Qt::Unchecked);
    m.setData(m.index(0, 0), Qt::Checked, Qt::CheckStateRole);
    EXPECT_TRUE(m.isChecked(0));
    EXPECT_EQ(m.data(m.index(0, 0), HostListModel::HealthRole).toInt(), kHealthNoResult);
}

// Past the cap the oldest lines go, and views are told; the newest stay on top.
TEST(MessagePaneModelTest, TheOldestLinesGoPastTheCap)
{
    MessagePaneModel pane;
    constexpr int kMax = MessagePaneModel::kMaxLines;
    int removed = 0;
    QObject::connect(&pane, &QAbstractItemModel::rowsRemoved,
                     [&](const QModelIndex&, int first, int last) {
                         EXPECT_EQ(first, kMax - 1);
                         removed += last - first + 1;
                     });
    for (int i = 0; i < kMax + 5; ++i)
        pane.addLine({QString::number(i), 0, "1", "06 Dec 26 02:35:41"});
    EXPECT_EQ(pane.rowCount(), kMax);
    EXPECT_EQ(removed, 5);
    EXPECT_EQ(pane.line(0).text, QString::number(kMax + 4));
    EXPECT_EQ(pane.line(kMax - 1).text, "5");
}

} // namespace
} // namespace qm::test
