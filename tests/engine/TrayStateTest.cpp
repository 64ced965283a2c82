// What the tray shows of the host list: worst health and "N up, M down" of
// the monitored rows, read again at most once per coalescing interval.

#include "EngineFixture.h"

#include "engine/TrayState.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;

class TrayStateTest : public EngineFixture
{
protected:
    // A row that starts no worker: the test gives it its item data itself.
    int row(const QString& host)
    {
        HostTexts t = MakeRow(host, "ECHO", 7);
        t[ColEnabled] = "0";
        return addRow(t);
    }
    void set(int r, int image, bool down, uint32_t itemData)
    {
        m_hosts.setImage(r, image);
        m_hosts.setText(r, ColFloatStat, down ? "1" : "0");
        m_hosts.setItemData(r, itemData);
    }
};

TEST_F(TrayStateTest, WorstHealthAndCountsOfTheMonitoredRowsFollowTheList)
{
    const int green = row("green");
    const int amber = row("amber");
    const int fresh = row("fresh");
    const int idle = row("idle");
    set(green, 0, false, 7001);
    set(amber, 4, true, 7002);
    TrayState state(m_hosts, controller());
    int emitted = 0;
    QObject::connect(&state, &TrayState::changed, [&] { ++emitted; });
    EXPECT_EQ(state.summary(), (TraySummary{kHealthNoResult, 0, 0})); // not monitoring

    controller().OnMonitoringStart(); // every row disabled: no worker starts
    set(green, 0, false, 7001);
    set(amber, 4, true, 7002);
    set(fresh, kHealthNoResult, false, 7003);
    set(idle, kHealthWorst, true, 0); // not monitored
    ASSERT_TRUE(PumpEventsUntil([&] { return state.summary().up == 2; }, 2s));
    EXPECT_EQ(state.summary(), (TraySummary{4, 2, 1}));
    EXPECT_EQ(TrayState::ToolTip(state.summary()), "2 up, 1 down");

    // A burst of changes is read once, after it.
    emitted = 0;
    for (int level = 5; level <= kHealthWorst; ++level)
        m_hosts.setImage(amber, level);
    m_hosts.setText(amber, ColFloatStat, "0");
    ASSERT_TRUE(PumpEventsUntil([&] { return state.summary().worstHealth == kHealthWorst; }, 2s));
    EXPECT_EQ(emitted, 1);
    // Red without the down state (float errors off) is down all the same.
    EXPECT_EQ(state.summary(), (TraySummary{kHealthWorst, 2, 1}));

    // Rows without a result yet count but have no colour; removed rows go.
    m_hosts.removeHost(amber);
    m_hosts.removeHost(green); // above amber
    ASSERT_TRUE(PumpEventsUntil([&] { return state.summary().up == 1; }, 2s));
    EXPECT_EQ(state.summary(), (TraySummary{kHealthNoResult, 1, 0}));

    // Once monitoring stops nothing is monitored, whatever the item data says.
    m_hosts.setImage(m_hosts.findByItemData(7003), 0);
    controller().OnMonitoringStop();
    ASSERT_TRUE(PumpEventsUntil([&] { return state.summary().up == 0; }, 2s));
    EXPECT_EQ(state.summary(), (TraySummary{kHealthNoResult, 0, 0}));
}

} // namespace
} // namespace qm::test
