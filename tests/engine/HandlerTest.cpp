// The engine's result handlers on the host list, without threads: events are
// delivered by calling the handlers as the main thread would.

#include "EngineFixture.h"

namespace qm::test {
namespace {

class HandlerTest : public EngineFixture
{
protected:
    // A row started by a worker with this thread identifier.
    int startedRow(const HostTexts& row, uint32_t tid)
    {
        const int r = addRow(row);
        m_hosts.setItemData(r, tid);
        return r;
    }
    QString text(int row, int col) const { return m_hosts.text(row, col); }
    // A success that asks for attention (a certificate near its end).
    void warning(uint32_t tid) { controller().OnPollSuccess(tid, MakeResult("Success, soon due", 0, true)); }
};

TEST_F(HandlerTest, SuccessAndFailureUpdateTheRowStatisticsAndFormats)
{
    const int r = startedRow(MakeRow("web", "HTTP", 80), 4001);
    EXPECT_EQ(m_hosts.image(r), kHealthNoResult);

    // After each result: response, message, polls, failures, %failure, level.
    // A one-character message leaves the column alone; 10 ms is shown in full.
    const struct
    {
        bool success;
        std::string message;
        uint32_t ms;
        QStringList row;
    } results[] = {
        {true, "HTTP/1.1 200 OK [demo/1.0]", 9,
         {"<10 msec", "HTTP/1.1 200 OK [demo/1.0]", "1", "0", "0.00%", "0"}},
        {false, "Timed out", 0, {"Error", "Timed out", "2", "1", "50.00%", "1"}},
        {true, "x", 10, {"10 msec", "Timed out", "3", "1", "33.33%", "0"}},
    };
    for (const auto& result : results) {
        result.success ? success(4001, result.message, result.ms) : failure(4001, result.message);
        EXPECT_EQ(QStringList({text(r, ColResponseTime), text(r, ColMessage), text(r, ColPolls),
                               text(r, ColFailures), text(r, ColPercFailure),
                               QString::number(m_hosts.image(r))}),
                  result.row);
    }

    // Every result is recorded with the row's settings; failures with the
    // no-response time.
    ASSERT_EQ(m_recorder.rows.size(), 3u);
    EXPECT_EQ(m_recorder.rows[0], "web|HTTP|80|120|9|HTTP/1.1 200 OK [demo/1.0]|0");
    EXPECT_EQ(m_recorder.rows[1], "web|HTTP|80|120|2147483647|Timed out|1");
}

// The level climbs by one per failure up to red and drops by one per success;
// a success with a warning drops it too but stops at the first yellow light.
// With float errors on, the failure that reaches the sensitivity puts the row
// down, notifies and floats it to the top; with them off nothing of that.
TEST_F(HandlerTest, LevelAndDownStateFollowTheFloatSettings)
{
    const struct
    {
        const char* what;
        bool floatErrors;
        bool first;         // the row starts on top
        std::string events; // F a failure, S a success, W a success with a warning
        int image;
        const char* percent;
        const char* down;
        int rowAfter;
        const char* subjects; // of the notifications, joined by "; "
    } cases[] = {
        {"red at most", false, false, std::string(14, 'F'), kHealthWorst, "100.00%", "0", 1, ""},
        {"a success after red", false, false, std::string(14, 'F') + "S", 10, "93.33%", "0", 1, ""},
        {"sensitivity zero", true, false, "F", 1, "100.00%", "1", 0, "HOST DOWN: core (h)"},
        {"down on the first row", true, true, "F", 1, "100.00%", "1", 0, "HOST DOWN: core (h)"},
        {"a warning is yellow, not green", false, false, "SW", 1, "0.00%", "0", 1, ""},
        {"a warning still lowers the level", false, false, "FFFW", 2, "75.00%", "0", 1, ""},
        {"a warning brings the row up", true, false, "FW", 1, "50.00%", "0", 0,
         "HOST DOWN: core (h); HOST UP: core (h)"},
    };
    uint32_t tid = 4100;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_hosts.clear();
        m_notifier.sent.clear();
        HostTexts row = MakeRow("h", "ECHO", 7);
        row[ColNickname] = "core";
        row[ColFloatErrs] = c.floatErrors ? "1" : "0";
        row[ColNotifyEnable] = row[ColNotifyMailEnable] = "1";
        if (!c.first)
            addRow(MakeRow("other", "ECHO", 7));
        startedRow(row, ++tid);
        if (c.first)
            addRow(MakeRow("other", "ECHO", 7));

        for (char e : c.events)
            e == 'F' ? failure(tid, "Timed out") : e == 'W' ? warning(tid) : success(tid, "Success", 1);
        const int r = m_hosts.findByItemData(tid);
        ASSERT_EQ(r, c.rowAfter);
        EXPECT_EQ(text(1 - r, ColHost), "other");
        EXPECT_EQ(m_hosts.image(r), c.image);
        EXPECT_EQ(text(r, ColPercFailure), c.percent);
        EXPECT_EQ(text(r, ColFloatStat), c.down);
        EXPECT_EQ(m_hosts.isChecked(r), c.floatErrors);
        QStringList subjects;
        for (const Notification& n : m_notifier.sent)
            subjects << n.subject;
        EXPECT_EQ(subjects.join("; "), c.subjects);
    }
}

TEST_F(HandlerTest, DownAfterSensitivityFailuresAndUpOnNextSuccess)
{
    HostTexts row = MakeRow("mail.lan", "SMTP", 25);
    row[ColFloatErrs] = "1";
    row[ColFloatErrsSens] = "10";
    row[ColNotifyEnable] = "1";
    row[ColNotifyMailEnable] = "1";
    row[ColNotifyMailAddress] = "ops@lan";
    row[ColNotifyMailServer] = "smtp.lan";
    row[ColNotifyPagerEnable] = "1";
    row[ColNotifyPagerSequence] = "555,,123#";
    const int r = startedRow(row, 4003);
    m_settings.writeString("ConfigNotificationDefaults", "EMAIL_FROM_ADDRESS", "monitor@lan");

    success(4003, "220 ready", 5); // level 0
    for (int i = 0; i < 9; ++i)
        failure(4003, "Connect Failed");
    EXPECT_EQ(m_hosts.image(r), 9);
    success(4003, "220 ready", 5); // back to 8
    EXPECT_EQ(text(r, ColFloatStat), "0");
    failure(4003, "Connect Failed");
    EXPECT_EQ(text(r, ColFloatStat), "0");
    EXPECT_TRUE(m_notifier.sent.empty());
    failure(4003, "554 go away"); // level 10: down
    EXPECT_EQ(text(r, ColFloatStat), "1");
    EXPECT_TRUE(m_hosts.isChecked(r));
    ASSERT_EQ(m_notifier.sent.size(), 1u);
    // The down mail counts this failure and reads "Error"; no nickname line.
    const std::string mail = "mail from monitor@lan to ops@lan via smtp.lan: ";
    const std::string host = "Host: mail.lan\nAddress: mail.lan\nProtocol: SMTP\nPort: 25\n";
    EXPECT_EQ(Describe(m_notifier.sent[0]),
              "down\ndesktop: HOST DOWN: mail.lan | SMTP port 25\n554 go away\npage: 555,,123#\n" + mail +
                  "HOST DOWN: mail.lan\n" + host +
                  "Time: Error\nLast Messge: 554 go away\nNumber of Polls: 13\nNumber of Failures: 11\n"
                  "Percentage of Failures: 84.62%\n\ntrace route: mail.lan");

    // Down stays down without more notifications.
    failure(4003, "Connect Failed");
    EXPECT_EQ(m_notifier.sent.size(), 1u);

    // The first success brings it up although the level is still high; the up
    // mail's counts exclude this poll and there is no pager call.
    success(4003, "220 back", 42);
    EXPECT_EQ(text(r, ColFloatStat), "0");
    EXPECT_EQ(m_hosts.image(r), 10);
    ASSERT_EQ(m_notifier.sent.size(), 2u);
    EXPECT_EQ(Describe(m_notifier.sent[1]),
              "up\ndesktop: HOST UP: mail.lan | SMTP port 25\n220 back\n" + mail + "HOST UP: mail.lan\n" + host +
                  "Time: 42 msec\nLast Messge: 220 back\nNumber of Polls: 14\nNumber of Failures: 12\n"
                  "Percentage of Failures: 85.71%\n");
    EXPECT_EQ(text(r, ColPolls), "15");
}

TEST_F(HandlerTest, DownOnFifthRowFloatsItToTopKeepingEverything)
{
    for (uint32_t i = 0; i < 4; ++i)
        startedRow(MakeRow(QStringLiteral("other%1").arg(i), "HTTP", 80), 100 + i);
    HostTexts row = MakeRow("fifth", "POP3", 110);
    row[ColFloatErrs] = "1";
    row[ColFloatErrsSens] = "2";
    row[ColNotifyEnable] = "0"; // no notifications, still floats
    row[ColNotifySoundEnable] = row[ColNotifyMailEnable] = row[ColNotifyPagerEnable] = "1";
    row[ColNickname] = "mailbox";
    m_settings.writeInt("ConfigNotificationDefaults", "DESKTOP_NOTIFY", 0);
    ASSERT_EQ(startedRow(row, 4006), 4);

    failure(4006, "-ERR one");
    EXPECT_EQ(m_hosts.findByItemData(4006), 4);
    failure(4006, "-ERR two");
    ASSERT_EQ(m_hosts.findByItemData(4006), 0);
    EXPECT_EQ(text(0, ColHost), "fifth");
    EXPECT_EQ(text(0, ColNickname), "mailbox");
    EXPECT_EQ(text(0, ColMessage), "-ERR two");
    EXPECT_EQ(m_hosts.image(0), 2);
    EXPECT_TRUE(m_hosts.isChecked(0));
    EXPECT_EQ(text(0, ColFloatStat), "1");
    EXPECT_TRUE(m_notifier.sent.empty());
    EXPECT_EQ(text(1, ColHost), "other0");

    // The row now checked gets pane lines: the down failure itself added one.
    // Text, image, time and the stamp's length of the newest line.
    const auto newest = [&] {
        const auto& l = m_pane.line(0);
        return QStringList{l.text, QString::number(l.image), l.respTime, QString::number(l.timeStamp.size())};
    };
    ASSERT_EQ(m_pane.rowCount(), 1);
    EXPECT_EQ(newest(), (QStringList{"POP3//fifth:110 -ERR two", QString::number(kHealthWorst), "Error", "18"}));
    success(4006, "+OK", 25);
    ASSERT_EQ(m_pane.rowCount(), 2);
    EXPECT_EQ(newest(), (QStringList{"POP3//fifth:110 +OK", "0", "25", "18"})); // "06 Dec 26 12:00:00"
}

TEST_F(HandlerTest, DesktopNotificationsFollowTheirOwnSwitchNotTheRowsNotifyEnable)
{
    HostTexts row = MakeRow("db.lan", "IMAP4", 143);
    row[ColFloatErrs] = row[ColFloatErrsSens] = "1";
    row[ColNickname] = "db";
    row[ColNotifyEnable] = "0";
    row[ColNotifyMailEnable] = "1";
    startedRow(row, 4014);

    // "DESKTOP_NOTIFY" unset is on: a down and an up, nothing else.
    failure(4014, "Connect Failed");
    success(4014, "* OK ready", 12);
    ASSERT_EQ(m_notifier.sent.size(), 2u);
    EXPECT_EQ(Describe(m_notifier.sent[0]), "down\ndesktop: HOST DOWN: db (db.lan) | IMAP4 port 143\nConnect Failed");
    EXPECT_EQ(Describe(m_notifier.sent[1]), "up\ndesktop: HOST UP: db (db.lan) | IMAP4 port 143\n* OK ready");

    // Switched off, read at the next transition: no notification at all.
    m_settings.writeInt("ConfigNotificationDefaults", "DESKTOP_NOTIFY", 0);
    failure(4014, "Connect Failed");
    success(4014, "* OK ready", 12);
    EXPECT_EQ(text(0, ColFloatStat), "0");
    EXPECT_EQ(m_notifier.sent.size(), 2u);
}

TEST_F(HandlerTest, OnlyCheckedRowsAddPaneLinesAndOnlyAfterTheRecord)
{
    startedRow(MakeRow("quiet", "HTTP", 80), 4009);
    const int loud = startedRow(MakeRow("loud", "HTTP", 8080), 4010);
    m_hosts.setChecked(loud, true);
    failure(4009, "Connect Failed");
    success(4009, "HTTP/1.1 200 OK []", 3);
    EXPECT_EQ(m_pane.rowCount(), 0);
    success(4010, "HTTP/1.1 200 OK [x]", 3);
    ASSERT_EQ(m_pane.rowCount(), 1);
    EXPECT_EQ(m_pane.line(0).text, "HTTP//loud:8080 HTTP/1.1 200 OK [x]");

    // A recorder failure ends the handler after the row, before the pane line.
    m_recorder.accept = false;
    success(4010, "Success", 3);
    EXPECT_EQ(text(loud, ColPolls), "2");
    EXPECT_EQ(m_pane.rowCount(), 1);
}

TEST_F(HandlerTest, EventsOfUnknownThreadsChangeNoRowButAreRecorded)
{
    HostTexts row = MakeRow("h", "ECHO", 7);
    row[ColFloatErrs] = row[ColNotifyEnable] = row[ColNotifyMailEnable] = "1";
    const int r = startedRow(row, 4011);
    const HostTexts before = m_hosts.texts(r);
    failure(9999, "Can't resolve nowhere.invalid");
    success(9999, "stray", 1);
    controller().SetThreadStatus(9999, StatusStopping);
    EXPECT_EQ(m_hosts.texts(r), before);
    EXPECT_EQ(m_hosts.image(r), kHealthNoResult);
    EXPECT_TRUE(m_notifier.sent.empty());
    ASSERT_EQ(m_recorder.rows.size(), 2u);
    EXPECT_EQ(m_recorder.rows[0], "||||2147483647|Can't resolve nowhere.invalid|1");
    EXPECT_EQ(m_pane.rowCount(), 0);
}

// Our own failure, not the host's: the row stays stopped with the reason and
// no poll is counted, so even a row that goes down on its first failure
// records nothing and notifies nobody.
TEST_F(HandlerTest, AWorkerThatCannotBeCreatedIsNeverAFailedPoll)
{
    MonitorController::Services services;
    services.recorder = &m_recorder;
    services.notifier = &m_notifier;
    services.startThread = [](std::function<void()>) {
        ThreadStart refused;
        refused.error = "Resource temporarily unavailable";
        return refused;
    };
    MonitorController controller(m_hosts, m_settings, services);
    HostTexts row = MakeRow("127.0.0.1", "HTTP", 80);
    row[ColFloatErrs] = row[ColNotifyEnable] = row[ColNotifyMailEnable] = "1";
    const int r = startedRow(row, 5); // a stale number must not survive
    controller.OnMonitoringStart();
    EXPECT_EQ(controller.liveThreads(), 0);
    EXPECT_EQ(m_hosts.itemData(r), 0u);
    EXPECT_EQ(text(r, ColThreadStatus), "Stopped...");
    EXPECT_EQ(m_hosts.image(r), kHealthNoResult);
    EXPECT_EQ(text(r, ColMessage), "Cannot start a worker thread: Resource temporarily unavailable");
    EXPECT_EQ(text(r, ColPolls) + text(r, ColFailures) + text(r, ColFloatStat), "000");
    EXPECT_TRUE(m_notifier.sent.empty());
    EXPECT_TRUE(m_recorder.rows.empty());
}

} // namespace
} // namespace qm::test
