#include "notify/PagerDialer.h"

#include "PtyModem.h"

#include <gtest/gtest.h>

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Records the status texts the dialer writes to its debug category.
class StatusCapture
{
public:
    StatusCapture()
    {
        std::lock_guard lock(s_mutex);
        s_lines.clear();
        m_previous = qInstallMessageHandler(&StatusCapture::handle);
    }
    ~StatusCapture() { qInstallMessageHandler(m_previous); }

    static std::vector<std::string> lines()
    {
        std::lock_guard lock(s_mutex);
        return s_lines;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (type != QtDebugMsg || qstrcmp(context.category, "quillmere.pager") != 0)
            return;
        std::lock_guard lock(s_mutex);
        s_lines.push_back(text.toStdString());
    }

    QtMessageHandler m_previous = nullptr;
    static inline std::mutex s_mutex;
    static inline std::vector<std::string> s_lines;
};

// Short waits: the behaviour is the same, the test is quicker.
PagerTimings QuickTimings(int callSetupMs = 1500)
{
    return PagerTimings{callSetupMs, 50, 2000};
}

// The texts from the first `first` on.
std::vector<std::string> From(const std::vector<std::string>& lines, const std::string& first)
{
    const auto at = std::find(lines.begin(), lines.end(), first);
    return {at, lines.end()};
}

const std::vector<std::string> kCallerHangUp = {"Stopping Call in progress...",
                                                "Call deallocated...", "Call stopped..."};

TEST(PagerDialerTest, BusyNumberShutsDownAndHangsUp)
{
    test::PtyModem modem("BUSY");
    ASSERT_FALSE(modem.slavePath().empty());
    StatusCapture capture;
    PagerDialer dialer(QuickTimings());
    dialer.Attach(QString::fromStdString(modem.slavePath()));
    const long request = dialer.Dial("5551234,,,42#");
    EXPECT_GT(request, 0);
    EXPECT_TRUE(modem.sawCommand("ATZ"));
    EXPECT_TRUE(modem.sawCommand("ATD5551234,,,42#"));
    // The modem was told to hang up before the line was closed.
    EXPECT_TRUE(modem.waitForCommand("ATH0", 1s));
    EXPECT_EQ(dialer.HangUp(), 0);

    const std::vector<std::string> expected = {
        "Line busy, shutting down...", "Stopping Call in progress...", "Call Dropped...",
        "Call deallocated...", "Line Closed...", "Call stopped...",
        // the caller's own hang-up finds nothing left to drop or close
        "Stopping Call in progress...", "Call deallocated...", "Call stopped..."};
    const auto lines = capture.lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Tapi initialized...");
    EXPECT_EQ(lines[1], "Line Reply...");
    EXPECT_EQ(lines[2], "Dialing...");
    EXPECT_EQ(From(lines, "Line busy, shutting down..."), expected);
    EXPECT_EQ(dialer.lastStatus(), "Call stopped...");
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
    const std::vector<std::string> expected = {"Stopping Call in progress...", "Call Dropped...",
                                               "Call deallocated...", "Line Closed...",
                                               "Call stopped..."};
    EXPECT_EQ(From(capture.lines(), "Stopping Call in progress..."), expected);

    // A second page on the same dialer opens the line again.
    EXPECT_EQ(dialer.Dial("0800999"), 2);
    EXPECT_TRUE(modem.sawCommand("ATD0800999"));
    dialer.HangUp();
}

TEST(PagerDialerTest, ModemResultsBecomeDisconnectTexts)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"NO DIALTONE", "Disconnected: No Dial Tone"}, {"NO ANSWER", "Disconnected: No Answer"},
        {"NO CARRIER", "Disconnected: No Answer"},     {"ERROR", "Disconnected: Bad Address"},
        {"7", "Line busy, shutting down..."}, // numeric result codes too
    };
    for (const auto& [reply, text] : cases) {
        SCOPED_TRACE(reply);
        test::PtyModem modem(reply);
        StatusCapture capture;
        PagerDialer dialer(QuickTimings());
        dialer.Attach(QString::fromStdString(modem.slavePath()));
        EXPECT_GT(dialer.Dial("123"), 0);
        const auto after = From(capture.lines(), text);
        ASSERT_GE(after.size(), 2u);
        EXPECT_EQ(after[1], "Stopping Call in progress...");
        EXPECT_EQ(after.back(), "Call stopped...");
    }
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
        // An empty sequence touches nothing.
        test::PtyModem modem;
        PagerDialer dialer(QuickTimings());
        dialer.Attach(QString::fromStdString(modem.slavePath()));
        EXPECT_EQ(dialer.Dial(""), -1);
        std::this_thread::sleep_for(100ms);
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
