#include "support/RouterChain.h"
#include "support/UiFixture.h"
#include "ui/HealthIcons.h"
#include "ui/TraceRouteDialog.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>

#include <unistd.h>

namespace qm::test {
namespace {

using ui::HealthIcons;
using ui::TraceRouteDialog;

// Set in the copy of this test that runs inside the client namespace.
constexpr const char* kInClient = "QM_TRACE_DIALOG_IN_CLIENT";

// Three namespaces of the test's own:
//   client 10.201.1.2 - 10.201.1.1 router one - 10.201.2.2 router two
// Router two drops everything for 10.201.3.0/24 and sends 10.201.9.0/24 back
// to router one, so it loops until its time runs out. Neither router answers
// echo requests sent to itself, so the timing probe of every hop waits the
// full receive time-out.
class Routers : public RouterChain
{
public:
    Routers()
        : RouterChain(3, "127.0.0.1 localhost\n10.201.1.1 qm-router-one\n"
                         "10.201.2.2 qm-router-two\n10.201.3.2 qm-target\n")
    {
        step("ip -n " + name(1) + " route add 10.201.0.0/16 via 10.201.2.2");
        step("ip -n " + name(2) + " route add blackhole 10.201.3.0/24");
        for (const std::size_t i : {1, 2})
            router(i, "net.ipv4.icmp_echo_ignore_all=1");
    }
};

void ExpectRow(const QTreeWidgetItem* row, const char* ttl, const char* response, const char* host,
               int image)
{
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(0), QLatin1String(ttl));
    EXPECT_EQ(row->text(1), QLatin1String(response));
    EXPECT_EQ(row->text(2), QLatin1String(host));
    static const QRegularExpression stamp(QStringLiteral(
        "^(Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "\\d{4} \\d\\d:\\d\\d:\\d\\d$"));
    EXPECT_TRUE(stamp.match(row->text(3)).hasMatch()) << row->text(3).toStdString();
    EXPECT_EQ(Pixels(row->icon(0)), Pixels(HealthIcons::icon(image)));
}

// The dialog's part, run inside the client namespace.
void TraceFromClient()
{
    ScriptedPrompt prompt;
    {
        TraceRouteDialog dialog(QStringLiteral("qm-target"), prompt);
        dialog.show();
        auto* host = Find<QLineEdit>(dialog, "hostEdit");
        auto* trace = Find<QPushButton>(dialog, "traceButton");
        auto* hops = Find<QTreeWidget>(dialog, "hopList");
        auto* count = Find<QLineEdit>(dialog, "hopsEdit");
        ASSERT_TRUE(host && trace && hops && count);
        EXPECT_EQ(host->text(), QStringLiteral("qm-target"));

        trace->click();
        EXPECT_FALSE(trace->isEnabled());
        // Router one's row comes after its timing probe's second; router two
        // drops the request, which ends the trace a second later.
        ASSERT_TRUE(PumpEventsUntil([&] { return hops->topLevelItemCount() > 0; }, 5s));
        EXPECT_EQ(hops->topLevelItemCount(), 1);
        EXPECT_FALSE(trace->isEnabled()) << "the first hop must be listed while the trace runs";
        ASSERT_TRUE(PumpEventsUntil([&] { return trace->isEnabled(); }, 5s));
        ASSERT_EQ(hops->topLevelItemCount(), 2);
        ExpectRow(hops->topLevelItem(0), "01", "<10 msec", "qm-router-one", HealthIcons::kGreen);
        ExpectRow(hops->topLevelItem(1), "02", "Err", "Err", HealthIcons::kRed);
        EXPECT_TRUE(hops->topLevelItem(1)->isSelected());
        EXPECT_EQ(count->text(), QStringLiteral("1"));

        // An empty host empties the list and nothing else.
        host->setText(QStringLiteral("  "));
        trace->click();
        EXPECT_EQ(hops->topLevelItemCount(), 0);
        EXPECT_EQ(count->text(), QStringLiteral("1"));
        EXPECT_TRUE(trace->isEnabled());
        EXPECT_EQ(TraceRouteDialog::runningTraces(), 0);
    }

    // 10.201.9.9 is never reached and every hop costs a second: closed after
    // its first hop, the trace ends within about one more (the receive under
    // way), not 28 seconds later.
    auto dialog = std::make_unique<TraceRouteDialog>(QStringLiteral("10.201.9.9"), prompt);
    dialog->open();
    auto* trace = Find<QPushButton>(*dialog, "traceButton");
    auto* hops = Find<QTreeWidget>(*dialog, "hopList");
    trace->click();
    ASSERT_TRUE(PumpEventsUntil([&] { return hops->topLevelItemCount() > 0; }, 5s));
    EXPECT_EQ(TraceRouteDialog::runningTraces(), 1);
    QElapsedTimer clock;
    clock.start();
    dialog->close();
    EXPECT_LT(clock.elapsed(), 200) << "closing must not wait for the worker";
    EXPECT_TRUE(trace->isEnabled());
    dialog.reset(); // the worker outlives the dialog
    EXPECT_TRUE(PumpEventsUntil([] { return TraceRouteDialog::runningTraces() == 0; }, 5s));
    EXPECT_LT(clock.elapsed(), 1800);
    EXPECT_TRUE(prompt.messages().empty());
}

// The test runs itself again inside the client namespace of a router chain
// (which also gives it the client's hosts file), and that copy traces.
TEST(TraceRouteDialog, ListsHopsAsFoundAndStopsSoonAfterClosing)
{
    if (std::getenv(kInClient)) {
        TraceFromClient();
        return;
    }
    Routers net;
    ASSERT_TRUE(net.ok()) << net.log();
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const CommandResult r = net.runInClient(std::string("env ") + kInClient + "=1 " + self +
                                            " --gtest_filter=TraceRouteDialog." + name);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("[  PASSED  ] 1 test"), std::string::npos) << r.output;
}

} // namespace
} // namespace qm::test
