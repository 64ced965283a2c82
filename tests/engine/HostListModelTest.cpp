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

} // namespace
} // namespace qm::test
