#include "EngineFixture.h"

#include "engine/HostRowCommands.h"

namespace qm::test {
namespace {

TEST(HostRowCommandsTest, DeleteClearStatsAndPolling)
{
    HostListModel m;
    for (int i = 0; i < 10; ++i)
        m.insertHost(i, MakeRow(QString("h%1").arg(i), "ECHO", 7), 3, 100 + i);

    DeleteRows(m, {5, 2, 7, 5, 42});
    ASSERT_EQ(m.rowCount(), 7);
    const int kept[] = {0, 1, 3, 4, 6, 8, 9};
    for (int r = 0; r < 7; ++r) {
        EXPECT_EQ(m.text(r, ColHost), QString("h%1").arg(kept[r]));
        EXPECT_EQ(m.findByItemData(100 + kept[r]), r);
    }

    m.setText(1, ColPolls, "8");
    m.setText(1, ColFailures, "2");
    m.setText(1, ColPercFailure, "25.00%");
    m.setText(1, ColResponseTime, "Error");
    m.setText(1, ColMessage, "Timed out");
    m.setText(1, ColFloatStat, "1");
    const HostTexts untouched = m.texts(2);
    // Only the counts go; the last response, message and down state stay.
    HostTexts cleared = m.texts(1);
    cleared[ColPolls] = cleared[ColFailures] = "0";
    cleared[ColPercFailure] = "0%";
    ClearStats(m, {1});
    EXPECT_EQ(m.texts(1), cleared);
    EXPECT_EQ(m.image(1), kHealthNoResult);
    EXPECT_EQ(m.texts(2), untouched);
    EXPECT_EQ(m.image(2), 3);

    SetPolling(m, {0, 3}, false);
    EXPECT_EQ(m.text(0, ColEnabled), "0");
    EXPECT_EQ(m.text(3, ColEnabled), "0");
    EXPECT_EQ(m.image(3), kHealthNoResult);
    EXPECT_EQ(m.text(2, ColEnabled), "1");
    m.setImage(0, 5);
    SetPolling(m, {0}, true);
    EXPECT_EQ(m.text(0, ColEnabled), "1");
    EXPECT_EQ(m.image(0), kHealthNoResult);
}

using HostRowCommandsEngineTest = EngineFixture;

TEST_F(HostRowCommandsEngineTest, ClearStatsOnADownHostKeepsItDownUntilItsNextSuccess)
{
    HostTexts row = MakeRow("db.lan", "ECHO", 7);
    row[ColFloatErrs] = "1";
    row[ColNotifyEnable] = "1";
    row[ColNotifyMailEnable] = "1";
    const int r = addRow(row);
    m_hosts.setItemData(r, 4100);
    failure(4100, "Timed out");
    ASSERT_EQ(m_hosts.text(r, ColFloatStat), "1");
    ASSERT_EQ(m_notifier.sent.size(), 1u);

    ClearStats(m_hosts, {r});
    EXPECT_EQ(m_hosts.text(r, ColFloatStat), "1");

    success(4100, "Success", 3);
    ASSERT_EQ(m_notifier.sent.size(), 2u);
    EXPECT_EQ(m_notifier.sent[1].kind, Notification::Up);
    EXPECT_EQ(m_notifier.sent[1].subject, "HOST UP: db.lan");
    // The up mail counts from the cleared statistics.
    EXPECT_TRUE(m_notifier.sent[1].body.contains(
        "Number of Polls: 0\nNumber of Failures: 0\nPercentage of Failures: 0%\n"));
    EXPECT_EQ(m_hosts.text(r, ColFloatStat), "0");
    EXPECT_EQ(m_hosts.text(r, ColPolls), "1");
    EXPECT_EQ(m_hosts.text(r, ColPercFailure), "0.00%");
    EXPECT_EQ(m_hosts.image(r), 0);
}

} // namespace
} // namespace qm::test
