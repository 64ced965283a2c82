#include "notify/PagerDialer.h"

#include "PtyModem.h"

#include <gtest/gtest.h>

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace qm {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

std::mutex g_statusMutex;
std::vector<std::string> g_statuses;

// Records the status texts the dialer writes to its debug category.
class StatusCapture
{
public:
    StatusCapture()
    {
        std::lock_guard lock(g_statusMutex);
        g_statuses.clear();
        m_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
                std::lock_guard lock(g_statusMutex);
                if (type == QtDebugMsg && qstrcmp(context.category, "quillmere.pager") == 0)
                    g_statuses.push_back(text.toStdString());
            });
    }
    ~StatusCapture() { qInstallMessageHandler(m_previous); }
    std::vector<std::string> lines() const
    {
        std::lock_guard lock(g_statusMutex);
        return g_statuses;
    }

private:
    QtMessageHandler m_previous = nullptr;
};

// Short waits: the behaviour is the same, the test is quicker.
PagerTimings QuickTimings(int callSetupMs = 1500)
{
    return PagerTimings{callSetupMs, 50, 2000};
}

const std::vector<std::string> kCallerHangUp = {"Stopping Call in progress...",
                                                "Call deallocated...", "Call stopped..."};

TEST(PagerDialerTest, ModemResultsEndTheCallWithTheirTexts)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"BUSY", "Line busy, shutting down..."},       {"7", "Line busy, shutting down..."}, // numeric codes too
        {"NO DIALTONE", "Disconnected: No Dial Tone"}, {"NO ANSWER", "Disconnected: No Answer"},
        {"NO CARRIER", "Disconnected: No Answer"},     {"ERROR", "Disconnected: Bad Address"},
    };
    for (const auto& [reply, text] : cases) {
        SCOPED_TRACE(reply);
        test::PtyModem modem(reply);
        StatusCapture capture;
        PagerDialer dialer(QuickTimings());
        dialer.Attach(QString::fromStdString(modem.slavePath()));
        EXPECT_GT(dialer.Dial("5551234,,,42#"), 0);
        EXPECT_TRUE(modem.sawCommand("ATZ"));
        EXPECT_TRUE(modem.sawCommand("ATD5551234,,,42#"));
        // The modem was told to hang up before the line was closed; the
        // caller's own hang-up then finds nothing left to drop or close.
        EXPECT_TRUE(modem.waitForCommand("ATH0", 1s));
        EXPECT_EQ(dialer.HangUp(), 0);
        std::vector<std::string> expected = {"Tapi initialized...", "Line Reply...", "Dialing...", text,
                                             "Stopping Call in progress...", "Call Dropped...",
                                             "Call deallocated...", "Line Closed...", "Call stopped..."};
        expected.insert(expected.end(), kCallerHangUp.begin(), kCallerHangUp.end());
        EXPECT_EQ(capture.lines(), expected);
    }
}

TEST(PagerDialerTest, CallIsHeldUntilHangUp)
{
    test::PtyModem modem; // dials and says nothing: the pager service never answers
    StatusCapture capture;
    PagerDialer dialer(QuickTimings(800));
    dialer.Attach(QString::fromStdString(modem.slavePath()));
    const auto start = SteadyClock::now();
    EXPECT_EQ(dialer.Dial("0800123456"), 1);
    EXPECT_GE(SteadyClock::now() - start, 800ms);
    EXPECT_TRUE(modem.sawCommand("ATD0800123456"));
    EXPECT_FALSE(modem.sawCommand("ATH"));
    EXPECT_EQ(dialer.lastStatus(), "Dialing...");

    dialer.HangUp();
    EXPECT_TRUE(modem.sawCommand("ATH0"));
    const auto lines = capture.lines();
    const auto stop = std::find(lines.begin(), lines.end(), "Stopping Call in progress...");
    EXPECT_EQ(std::vector<std::string>(stop, lines.end()),
              (std::vector<std::string>{"Stopping Call in progress...", "Call Dropped...",
                                        "Call deallocated...", "Line Closed...", "Call stopped..."}));

    // A second page on the same dialer opens the line again.
    EXPECT_EQ(dialer.Dial("0800999"), 2);
    EXPECT_TRUE(modem.sawCommand("ATD0800999"));
    dialer.HangUp();
}

TEST(PagerDialerTest, ConnectedCallIsEscapedAndHungUp)
{
    test::PtyModem modem("CONNECT 9600");
    StatusCapture capture;
    PagerDialer dialer(QuickTimings(600));
    dialer.Attach(QString::fromStdString(modem.slavePath()));
    EXPECT_EQ(dialer.Dial("555"), 1);
    EXPECT_EQ(dialer.lastStatus(), "Hey I am connected!");
    dialer.HangUp();
    // DTR cannot be dropped on this line, so the modem is escaped to command mode.
    const auto commands = modem.commands();
    const auto escape = std::find(commands.begin(), commands.end(), "+++");
    ASSERT_NE(escape, commands.end());
    ASSERT_NE(escape + 1, commands.end());
    EXPECT_EQ(*(escape + 1), "ATH0");
    EXPECT_EQ(capture.lines().back(), "Call stopped...");
}

TEST(PagerDialerTest, NoLineMeansMinusOne)
{
    StatusCapture capture;
    {
        // An empty sequence touches nothing (a reset would have waited for
        // the modem's answer, so the modem has read whatever was sent).
        test::PtyModem modem;
        PagerDialer dialer(QuickTimings());
        dialer.Attach(QString::fromStdString(modem.slavePath()));
        EXPECT_EQ(dialer.Dial(""), -1);
        EXPECT_EQ(modem.received(), "");
        EXPECT_TRUE(capture.lines().empty());
        dialer.HangUp();
        EXPECT_EQ(capture.lines(), kCallerHangUp);
    }
    for (const char* device : {"/dev/quillmere-no-such-modem", "/dev/null"}) {
        SCOPED_TRACE(device);
        PagerDialer dialer(QuickTimings());
        dialer.Attach(device);
        EXPECT_EQ(dialer.Dial("123"), -1);
        EXPECT_EQ(dialer.lastStatus(), "Tapi initialized...");
    }
    {
        // A terminal with no modem behind it: the reset is not answered.
        test::PtyModem modem;
        modem.setAnswering(false);
        PagerDialer dialer(PagerTimings{1500, 50, 500});
        dialer.Attach(QString::fromStdString(modem.slavePath()));
        const auto start = SteadyClock::now();
        EXPECT_EQ(dialer.Dial("123"), -1);
        EXPECT_LT(SteadyClock::now() - start, 2s);
        EXPECT_FALSE(modem.sawCommand("ATD"));
    }
    {
        PagerDialer dialer(QuickTimings());
        dialer.Attach("");
        EXPECT_EQ(dialer.Dial("123"), PagerDialer::kOperationUnavailable);
        EXPECT_EQ(dialer.lastStatus(), "Tapi error...");
    }
}

} // namespace
} // namespace qm
