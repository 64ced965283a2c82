// The engine's result handlers on the host list, without threads: events are
// delivered by calling the handlers as the main thread would.

#include "EngineFixture.h"

namespace qm::test {
namespace {

class HandlerTest : public EngineFixture
{
protected:
    // A row started by a worker with this thread identifier.
    int startedRow(HostTexts row, uint32_t tid)
    {
        const int r = addRow(row);
        m_hosts.setItemData(r, tid);
        return r;
    }
    QString text(int row, int col) const { return m_hosts.text(row, col); }
};

TEST_F(HandlerTest, SuccessAndFailureUpdateTheRowStatisticsAndFormats)
{
    const int r = startedRow(MakeRow(QStringLiteral("web"), QStringLiteral("HTTP"), 80), 4001);
    EXPECT_EQ(m_hosts.image(r), kHealthNoResult);

    success(4001, "HTTP/1.1 200 OK [demo/1.0]", 9);
    EXPECT_EQ(text(r, ColResponseTime), QStringLiteral("<10 msec"));
    EXPECT_EQ(text(r, ColMessage), QStringLiteral("HTTP/1.1 200 OK [demo/1.0]"));
    EXPECT_EQ(text(r, ColPolls), QStringLiteral("1"));
    EXPECT_EQ(text(r, ColPercFailure), QStringLiteral("0.00%"));
    EXPECT_EQ(m_hosts.image(r), 0); // 12 -> 0 on a success

    failure(4001, "Timed out");
    EXPECT_EQ(text(r, ColResponseTime), QStringLiteral("Error"));
    EXPECT_EQ(text(r, ColFailures), QStringLiteral("1"));
    EXPECT_EQ(text(r, ColPolls), QStringLiteral("2"));
    EXPECT_EQ(text(r, ColPercFailure), QStringLiteral("50.00%"));
    EXPECT_EQ(m_hosts.image(r), 1);

    // A one-character message leaves the column alone; 10 ms is shown in full.
    success(4001, "x", 10);
    EXPECT_EQ(text(r, ColMessage), QStringLiteral("Timed out"));
    EXPECT_EQ(text(r, ColResponseTime), QStringLiteral("10 msec"));
    EXPECT_EQ(text(r, ColPercFailure), QStringLiteral("33.33%"));

    // Every result is recorded with the row's settings; failures with the
    // no-response time.
    ASSERT_EQ(m_recorder.rows.size(), 3u);
    EXPECT_EQ(m_recorder.rows[0].time, QStringLiteral("9"));
    EXPECT_EQ(m_recorder.rows[0].failure, QStringLiteral("0"));
    EXPECT_EQ(m_recorder.rows[0].frequency, QStringLiteral("120"));
    EXPECT_EQ(m_recorder.rows[1].time, QStringLiteral("2147483647"));
    EXPECT_EQ(m_recorder.rows[1].failure, QStringLiteral("1"));
    EXPECT_EQ(m_recorder.rows[1].host, QStringLiteral("web"));
    EXPECT_EQ(m_recorder.rows[1].port, QStringLiteral("80"));
}

TEST_F(HandlerTest, AllFailuresShowHundredPercentAndLevelStopsAtEleven)
{
    const int r = startedRow(MakeRow(QStringLiteral("h"), QStringLiteral("ECHO"), 7), 4002);
    for (int i = 0; i < 14; ++i)
        failure(4002, "Timed out");
    EXPECT_EQ(text(r, ColPercFailure), QStringLiteral("100.00%"));
    EXPECT_EQ(m_hosts.image(r), kHealthWorst);
    success(4002, "Success", 1);
    EXPECT_EQ(m_hosts.image(r), 10);
}

TEST_F(HandlerTest, DownAfterSensitivityFailuresAndUpOnNextSuccess)
{
    HostTexts row = MakeRow(QStringLiteral("mail.lan"), QStringLiteral("SMTP"), 25);
    row[ColFloatErrs] = QStringLiteral("1");
    row[ColFloatErrsSens] = QStringLiteral("10");
    row[ColNotifyEnable] = QStringLiteral("1");
    row[ColNotifyMailEnable] = QStringLiteral("1");
    row[ColNotifyMailAddress] = QStringLiteral("ops@lan");
    row[ColNotifyMailServer] = QStringLiteral("smtp.lan");
    row[ColNotifyPagerEnable] = QStringLiteral("1");
    row[ColNotifyPagerSequence] = QStringLiteral("555,,123#");
    const int r = startedRow(row, 4003);
    m_settings->writeString(QStringLiteral("ConfigNotificationDefaults"), QStringLiteral("EMAIL_FROM_ADDRESS"),
                            QStringLiteral("monitor@lan"));

    success(4003, "220 ready", 5); // level 0
    for (int i = 0; i < 9; ++i)
        failure(4003, "Connect Failed");
    EXPECT_EQ(m_hosts.image(r), 9);
    success(4003, "220 ready", 5); // back to 8
    EXPECT_EQ(text(r, ColFloatStat), QStringLiteral("0"));
    failure(4003, "Connect Failed");
    EXPECT_EQ(text(r, ColFloatStat), QStringLiteral("0"));
    EXPECT_TRUE(m_notifier.sent.empty());
    failure(4003, "554 go away"); // level 10: down
    EXPECT_EQ(text(r, ColFloatStat), QStringLiteral("1"));
    EXPECT_TRUE(m_hosts.isChecked(r));
    ASSERT_EQ(m_notifier.sent.size(), 1u);
    const Notification& down = m_notifier.sent[0];
    EXPECT_EQ(down.kind, Notification::Down);
    EXPECT_TRUE(down.page);
    EXPECT_EQ(down.pagerSequence, QStringLiteral("555,,123#"));
    EXPECT_FALSE(down.sound);
    EXPECT_TRUE(down.mail);
    EXPECT_EQ(down.subject, QStringLiteral("HOST DOWN: mail.lan"));
    EXPECT_EQ(down.mailFrom, QStringLiteral("monitor@lan"));
    EXPECT_EQ(down.mailTo, QStringLiteral("ops@lan"));
    EXPECT_EQ(down.traceRouteHost, QStringLiteral("mail.lan"));
    // The down mail counts this failure and reads "Error"; no nickname line.
    EXPECT_EQ(down.body, QStringLiteral("Host: mail.lan\nAddress: mail.lan\nProtocol: SMTP\nPort: 25\nTime: Error\n"
                                        "Last Messge: 554 go away\nNumber of Polls: 13\nNumber of Failures: 11\n"
                                        "Percentage of Failures: 84.62%\n"));

    // Down stays down without more notifications.
    failure(4003, "Connect Failed");
    EXPECT_EQ(m_notifier.sent.size(), 1u);

    // The first success brings it up although the level is still high; the up
    // mail's counts exclude this poll and there is no pager call.
    success(4003, "220 back", 42);
    EXPECT_EQ(text(r, ColFloatStat), QStringLiteral("0"));
    EXPECT_EQ(m_hosts.image(r), 10);
    ASSERT_EQ(m_notifier.sent.size(), 2u);
    const Notification& up = m_notifier.sent[1];
    EXPECT_EQ(up.kind, Notification::Up);
    EXPECT_FALSE(up.page);
    EXPECT_EQ(up.subject, QStringLiteral("HOST UP: mail.lan"));
    EXPECT_TRUE(up.body.contains(QStringLiteral("Time: 42 msec\nLast Messge: 220 back\nNumber of Polls: 14\n")));
    EXPECT_TRUE(up.traceRouteHost.isEmpty());
    EXPECT_EQ(text(r, ColPolls), QStringLiteral("15"));
}

TEST_F(HandlerTest, FreshRowWithSensitivityZeroGoesDownOnFirstFailure)
{
    HostTexts row = MakeRow(QStringLiteral("h"), QStringLiteral("ECHO"), 7);
    row[ColFloatErrs] = QStringLiteral("1");
    row[ColNickname] = QStringLiteral("core");
    row[ColNotifyEnable] = QStringLiteral("1");
    row[ColNotifyMailEnable] = QStringLiteral("1");
    const int r = startedRow(row, 4004);
    failure(4004, "Timed out");
    EXPECT_EQ(m_hosts.image(r), 1);
    EXPECT_EQ(text(r, ColFloatStat), QStringLiteral("1"));
    ASSERT_EQ(m_notifier.sent.size(), 1u);
    EXPECT_EQ(m_notifier.sent[0].subject, QStringLiteral("HOST DOWN: core (h)"));
}

TEST_F(HandlerTest, FloatErrorsOffNeverGoesDown)
{
    HostTexts row = MakeRow(QStringLiteral("h"), QStringLiteral("ECHO"), 7);
    row[ColNotifyEnable] = QStringLiteral("1");
    row[ColNotifyMailEnable] = QStringLiteral("1");
    addRow(MakeRow(QStringLiteral("first"), QStringLiteral("ECHO"), 7));
    const int r = startedRow(row, 4005);
    for (int i = 0; i < 12; ++i)
        failure(4005, "Timed out");
    EXPECT_EQ(text(r, ColFloatStat), QStringLiteral("0"));
    EXPECT_EQ(m_hosts.text(1, ColHost), QStringLiteral("h")); // not floated
    EXPECT_TRUE(m_notifier.sent.empty());
}

TEST_F(HandlerTest, DownOnFifthRowFloatsItToTopKeepingEverything)
{
    for (int i = 0; i < 4; ++i)
        startedRow(MakeRow(QStringLiteral("other%1").arg(i), QStringLiteral("HTTP"), 80), 100 + i);
    HostTexts row = MakeRow(QStringLiteral("fifth"), QStringLiteral("POP3"), 110);
    row[ColFloatErrs] = QStringLiteral("1");
    row[ColFloatErrsSens] = QStringLiteral("2");
    row[ColNotifyEnable] = QStringLiteral("0"); // no notifications, still floats
    row[ColNotifySoundEnable] = QStringLiteral("1");
    row[ColNotifyMailEnable] = QStringLiteral("1");
    row[ColNotifyPagerEnable] = QStringLiteral("1");
    row[ColNickname] = QStringLiteral("mailbox");
    m_settings->writeInt(QStringLiteral("ConfigNotificationDefaults"),
                         QStringLiteral("DESKTOP_NOTIFY"), 0);
    const int r = startedRow(row, 4006);
    ASSERT_EQ(r, 4);

    failure(4006, "-ERR one");
    EXPECT_EQ(m_hosts.findByItemData(4006), 4);
    failure(4006, "-ERR two");
    ASSERT_EQ(m_hosts.findByItemData(4006), 0);
    EXPECT_EQ(m_hosts.text(0, ColHost), QStringLiteral("fifth"));
    EXPECT_EQ(m_hosts.text(0, ColNickname), QStringLiteral("mailbox"));
    EXPECT_EQ(m_hosts.text(0, ColMessage), QStringLiteral("-ERR two"));
    EXPECT_EQ(m_hosts.image(0), 2);
    EXPECT_TRUE(m_hosts.isChecked(0));
    EXPECT_EQ(m_hosts.text(0, ColFloatStat), QStringLiteral("1"));
    EXPECT_TRUE(m_notifier.sent.empty());
    // The other rows moved down by one and are still found by their ids.
    EXPECT_EQ(m_hosts.findByItemData(100), 1);
    EXPECT_EQ(m_hosts.findByItemData(103), 4);

    // The row now checked gets pane lines: the down failure itself added one.
    ASSERT_EQ(m_pane.rowCount(), 1);
    EXPECT_EQ(m_pane.line(0).text, QStringLiteral("POP3//fifth:110 -ERR two"));
    EXPECT_EQ(m_pane.line(0).image, kHealthWorst);
    EXPECT_EQ(m_pane.line(0).respTime, QStringLiteral("Error"));
    success(4006, "+OK", 25);
    ASSERT_EQ(m_pane.rowCount(), 2);
    EXPECT_EQ(m_pane.line(0).text, QStringLiteral("POP3//fifth:110 +OK"));
    EXPECT_EQ(m_pane.line(0).image, 0);
    EXPECT_EQ(m_pane.line(0).respTime, QStringLiteral("25"));
    EXPECT_EQ(m_pane.line(0).timeStamp.size(), QStringLiteral("06 Dec 26 12:00:00").size());
}

TEST_F(HandlerTest, DesktopNotificationsFollowTheirOwnSwitchNotTheRowsNotifyEnable)
{
    HostTexts row = MakeRow(QStringLiteral("db.lan"), QStringLiteral("IMAP4"), 143);
    row[ColFloatErrs] = QStringLiteral("1");
    row[ColFloatErrsSens] = QStringLiteral("1");
    row[ColNickname] = QStringLiteral("db");
    row[ColNotifyEnable] = QStringLiteral("0");
    row[ColNotifyMailEnable] = QStringLiteral("1");
    startedRow(row, 4014);

    // "DESKTOP_NOTIFY" unset is on: a down and an up, nothing else.
    failure(4014, "Connect Failed");
    success(4014, "* OK ready", 12);
    ASSERT_EQ(m_notifier.sent.size(), 2u);
    const Notification& down = m_notifier.sent[0];
    EXPECT_TRUE(down.desktop);
    EXPECT_FALSE(down.page || down.sound || down.mail);
    EXPECT_EQ(down.desktopSummary, QStringLiteral("HOST DOWN: db (db.lan)"));
    EXPECT_EQ(down.desktopBody, QStringLiteral("IMAP4 port 143\nConnect Failed"));
    EXPECT_EQ(m_notifier.sent[1].kind, Notification::Up);
    EXPECT_TRUE(m_notifier.sent[1].desktop);
    EXPECT_EQ(m_notifier.sent[1].desktopSummary, QStringLiteral("HOST UP: db (db.lan)"));
    EXPECT_EQ(m_notifier.sent[1].desktopBody, QStringLiteral("IMAP4 port 143\n* OK ready"));

    // Switched off, read at the next transition: no notification at all.
    m_settings->writeInt(QStringLiteral("ConfigNotificationDefaults"),
                         QStringLiteral("DESKTOP_NOTIFY"), 0);
    failure(4014, "Connect Failed");
    success(4014, "* OK ready", 12);
    EXPECT_EQ(text(0, ColFloatStat), QStringLiteral("0"));
    EXPECT_EQ(m_notifier.sent.size(), 2u);
}

TEST_F(HandlerTest, DownOnFirstRowDoesNotMoveAnything)
{
    HostTexts row = MakeRow(QStringLiteral("top"), QStringLiteral("ECHO"), 7);
    row[ColFloatErrs] = QStringLiteral("1");
    startedRow(row, 4007);
    startedRow(MakeRow(QStringLiteral("second"), QStringLiteral("ECHO"), 7), 4008);
    failure(4007, "Timed out");
    EXPECT_EQ(m_hosts.text(0, ColHost), QStringLiteral("top"));
    EXPECT_EQ(m_hosts.text(1, ColHost), QStringLiteral("second"));
    EXPECT_TRUE(m_hosts.isChecked(0));
}

TEST_F(HandlerTest, UncheckedRowsAddNoPaneLines)
{
    startedRow(MakeRow(QStringLiteral("quiet"), QStringLiteral("HTTP"), 80), 4009);
    const int loud = startedRow(MakeRow(QStringLiteral("loud"), QStringLiteral("HTTP"), 8080), 4010);
    m_hosts.setChecked(loud, true);
    failure(4009, "Connect Failed");
    success(4009, "HTTP/1.1 200 OK []", 3);
    EXPECT_EQ(m_pane.rowCount(), 0);
    success(4010, "HTTP/1.1 200 OK [x]", 3);
    ASSERT_EQ(m_pane.rowCount(), 1);
    EXPECT_EQ(m_pane.line(0).text, QStringLiteral("HTTP//loud:8080 HTTP/1.1 200 OK [x]"));
}

TEST_F(HandlerTest, EventsOfUnknownThreadsChangeNoRowButAreRecorded)
{
    HostTexts row = MakeRow(QStringLiteral("h"), QStringLiteral("ECHO"), 7);
    row[ColFloatErrs] = QStringLiteral("1");
    row[ColNotifyEnable] = QStringLiteral("1");
    row[ColNotifyMailEnable] = QStringLiteral("1");
    const int r = startedRow(row, 4011);
    const HostTexts before = m_hosts.texts(r);
    failure(9999, "Can't resolve nowhere.invalid");
    success(9999, "stray", 1);
    controller().SetThreadStatus(9999, StatusStopping);
    EXPECT_EQ(m_hosts.texts(r), before);
    EXPECT_EQ(m_hosts.image(r), kHealthNoResult);
    EXPECT_TRUE(m_notifier.sent.empty());
    ASSERT_EQ(m_recorder.rows.size(), 2u);
    EXPECT_TRUE(m_recorder.rows[0].host.isEmpty());
    EXPECT_TRUE(m_recorder.rows[0].protocol.isEmpty());
    EXPECT_EQ(m_recorder.rows[0].message, QStringLiteral("Can't resolve nowhere.invalid"));
    EXPECT_EQ(m_pane.rowCount(), 0);
}

TEST_F(HandlerTest, RecorderFailureEndsTheHandlerBeforeThePaneLine)
{
    const int r = startedRow(MakeRow(QStringLiteral("h"), QStringLiteral("ECHO"), 7), 4012);
    m_hosts.setChecked(r, true);
    m_recorder.accept = false;
    success(4012, "Success", 3);
    EXPECT_EQ(text(r, ColPolls), QStringLiteral("1"));
    EXPECT_EQ(m_pane.rowCount(), 0);
}

TEST_F(HandlerTest, StatusCodesSetTextAndImage)
{
    const int r = startedRow(MakeRow(QStringLiteral("h"), QStringLiteral("ECHO"), 7), 4013);
    success(4013, "Success", 1);
    controller().SetThreadStatus(4013, StatusWorking);
    EXPECT_EQ(text(r, ColThreadStatus), QStringLiteral("Working..."));
    EXPECT_EQ(m_hosts.image(r), 0);
    controller().SetThreadStatus(4013, StatusSleeping);
    EXPECT_EQ(text(r, ColThreadStatus), QStringLiteral("Sleeping..."));
    controller().SetThreadStatus(4013, StatusStopping);
    EXPECT_EQ(text(r, ColThreadStatus), QStringLiteral("Stopping..."));
    EXPECT_EQ(m_hosts.image(r), kHealthStopping);
    controller().SetThreadStatus(4013, StatusStopped);
    EXPECT_EQ(text(r, ColThreadStatus), QStringLiteral("Stopped..."));
    EXPECT_EQ(m_hosts.image(r), kHealthNoResult);
}

} // namespace
} // namespace qm::test
