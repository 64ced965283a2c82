// The configuration sheet: what OK and Cancel write, the integer fields, the
// XML page's enabling, and the notification test buttons.

#include "notify/NotificationTester.h"
#include "store/ConfigSections.h"
#include "support/MaildirSmtpServer.h"
#include "support/UiFixture.h"
#include "ui/ConfigureSheet.h"
#include "ui/NotificationPageWidget.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>

namespace qm::test {
namespace {

using ui::ConfigureSheet;

class ConfigureSheetTest : public UiTest
{
protected:
    void showTab(ConfigureSheet& sheet, const char* page)
    {
        Find<QTabWidget>(sheet, "configTabs")->setCurrentWidget(Find<QWidget>(sheet, page));
    }
};

TEST_F(ConfigureSheetTest, OkWritesThePagesShownAndRefusesANonNumber)
{
    m_store->writeInt(QStringLiteral("ConfigXML"), QStringLiteral("ENABLE"), 1);
    m_store->writeString(QStringLiteral("ConfigXML"), QStringLiteral("FTP_URL"), QStringLiteral("ftp://x/"));

    // Cancel writes nothing, whatever was edited.
    {
        ConfigureSheet sheet(*m_store, nullptr, &m_prompt);
        sheet.open();
        showTab(sheet, "configPageXml");
        Find<QLineEdit>(sheet, "ftpUrlEdit")->setText(QStringLiteral("ftp://y/"));
        Find<QPushButton>(sheet, "cancelButton")->click();
        EXPECT_EQ(sheet.result(), QDialog::Rejected);
    }
    EXPECT_EQ(stored("ConfigXML", "FTP_URL"), QStringLiteral("ftp://x/"));
    EXPECT_EQ(stored("ConfigAuthenticationDefaults", "USID"), QStringLiteral("unset"));

    ConfigureSheet sheet(*m_store, nullptr, &m_prompt);
    sheet.open();
    auto* tabs = Find<QTabWidget>(sheet, "configTabs");
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i)
        titles << tabs->tabText(i);
    EXPECT_EQ(titles, (QStringList{"Authentication Defaults", "Database Configuration", "Float Error Defaults",
                                   "Notification Defaults", "Frequency Defaults", "XML Configuration"}));

    showTab(sheet, "configPageFloat");
    auto* slider = Find<QSlider>(sheet, "sensitivitySlider");
    EXPECT_EQ(slider->value(), 1);
    EXPECT_FALSE(slider->isEnabled());

    showTab(sheet, "configPageFrequency");
    auto* seconds = Find<QLineEdit>(sheet, "frequencyEdit");
    EXPECT_EQ(seconds->text(), QStringLiteral("120"));
    seconds->setText(QStringLiteral("9O"));
    tabs->setCurrentIndex(0);
    EXPECT_EQ(tabs->currentWidget()->objectName(), QStringLiteral("configPageFrequency"));
    Find<QPushButton>(sheet, "okButton")->click();
    EXPECT_TRUE(sheet.isVisible());
    ASSERT_EQ(m_prompt.texts().size(), 2u);
    EXPECT_NE(m_prompt.texts()[1].find("whole number"), std::string::npos);

    seconds->setText(QStringLiteral("90"));
    Find<QPushButton>(sheet, "okButton")->click();
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    // The pages shown are written (the first is the one the sheet opened on);
    // pages never shown write nothing.
    const char* const written[][3] = {
        {"ConfigFloatDefaults", "SENSITIVITY", "1"}, {"ConfigFloatDefaults", "FLOAT_ENABLE", "0"},
        {"ConfigFrequency", "FREQUENCY", "90"}, {"ConfigAuthenticationDefaults", "USID", ""},
        {"ConfigXML", "FTP_URL", "ftp://x/"}, {"ConfigXML", "LOCAL_RADIO", "unset"},
        {"ConfigDatabase", "DATABASE_FILE", "unset"}, {"ConfigNotificationDefaults", "MODEM_DEVICE", "unset"}};
    for (const auto& [section, name, text] : written)
        EXPECT_EQ(stored(section, name), QLatin1String(text)) << section << "/" << name;
}

TEST_F(ConfigureSheetTest, XmlPageEnablesByTheCheckAndTheRadios)
{
    const QString folder = path(QStringLiteral("a-folder-with-a-rather-long-name"));
    ASSERT_TRUE(QDir().mkpath(folder));
    m_store->writeString(QStringLiteral("ConfigXML"), QStringLiteral("LOCAL_FOLDER"), folder);
    ConfigureSheet sheet(*m_store, nullptr, &m_prompt);
    sheet.open();
    showTab(sheet, "configPageXml");

    auto* enable = Find<QCheckBox>(sheet, "xmlEnableCheck");
    auto* local = Find<QRadioButton>(sheet, "localRadio");
    auto* ftp = Find<QRadioButton>(sheet, "ftpRadio");
    // Which of the radios, the frequency, the local and the FTP fields are enabled.
    const std::vector<QWidget*> fields{local, ftp, Find<QWidget>(sheet, "xmlFrequencyEdit"),
                                       Find<QWidget>(sheet, "localFolderEdit"), Find<QWidget>(sheet, "folderBrowseButton"),
                                       Find<QWidget>(sheet, "ftpUrlEdit"), Find<QWidget>(sheet, "ftpUserEdit"),
                                       Find<QWidget>(sheet, "ftpPasswordEdit")};
    auto enabled = [&] {
        QString out;
        for (QWidget* w : fields)
            out += w->isEnabled() ? u'1' : u'0';
        return out;
    };
    EXPECT_EQ(enabled(), "00000000");
    enable->setChecked(true);
    EXPECT_EQ(enabled(), "11100000");
    local->setChecked(true);
    EXPECT_EQ(enabled(), "11111000");
    ftp->setChecked(true);
    EXPECT_EQ(enabled(), "11100111");
    enable->setChecked(false);
    EXPECT_EQ(enabled(), "00000000");

    // The folder browser starts on the current folder and tells it, cut.
    enable->setChecked(true);
    local->setChecked(true);
    Find<QPushButton>(sheet, "folderBrowseButton")->click();
    auto* dialog = Find<QFileDialog>(sheet, "folderDialog");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Find<QLabel>(*dialog, "folderStatus")->text(), FolderStatusText(folder));
    EXPECT_TRUE(Find<QLabel>(*dialog, "folderStatus")->text().endsWith(QStringLiteral("...")));
    dialog->reject();
}

TEST_F(ConfigureSheetTest, TestButtonsReportAndSendTheTestMailWithoutBlocking)
{
    MaildirSmtpServer mta;
    ASSERT_EQ(mta.error(), "");
    ConfigureSheet sheet(*m_store, nullptr, &m_prompt);
    NotificationTesterOptions options;
    options.mailPort = mta.port();
    sheet.setTesterOptions(options);
    sheet.open();
    showTab(sheet, "configPageNotification");

    // With notification off only the test buttons stay usable.
    auto* play = Find<QPushButton>(sheet, "playButton");
    auto* send = Find<QPushButton>(sheet, "sendTestButton");
    EXPECT_FALSE(Find<QWidget>(sheet, "mailToEdit")->isEnabled());
    EXPECT_TRUE(play->isEnabled() && send->isEnabled() && Find<QWidget>(sheet, "pagerTestButton")->isEnabled());
    Find<QCheckBox>(sheet, "notifyCheck")->setChecked(true);
    Find<QCheckBox>(sheet, "mailCheck")->setChecked(true);
    EXPECT_TRUE(Find<QWidget>(sheet, "mailToEdit")->isEnabled());
    EXPECT_FALSE(Find<QWidget>(sheet, "soundFileEdit")->isEnabled());

    play->click();
    ASSERT_EQ(m_prompt.texts(), std::vector<std::string>{"Please select a sound file to play."});

    Find<QLineEdit>(sheet, "smtpEdit")->setText(QStringLiteral("127.0.0.1"));
    Find<QLineEdit>(sheet, "mailToEdit")->setText(QStringLiteral("ops@example.net"));
    Find<QLineEdit>(sheet, "mailFromEdit")->setText(QStringLiteral("monitor@example.net"));
    send->click();
    auto* panel = Find<ui::NotificationPageWidget>(sheet, "notificationPanel");
    EXPECT_FALSE(send->isEnabled());
    EXPECT_FALSE(play->isEnabled());
    EXPECT_EQ(panel->cursor().shape(), Qt::BusyCursor);
    ASSERT_TRUE(PumpEventsUntil([&] { return send->isEnabled(); }, 40s));
    EXPECT_NE(panel->cursor().shape(), Qt::BusyCursor);

    const auto mails = mta.waitForMessages(1, 10s);
    ASSERT_EQ(mails.size(), 1u) << mta.log();
    EXPECT_NE(mails[0].find("Subject: Kestrune Error Notification Test"), std::string::npos) << mails[0];
    EXPECT_NE(mails[0].find("\nTHIS IS JUST A TEST"), std::string::npos) << mails[0];
    EXPECT_NE(mails[0].find("X-RcptTo: ops@example.net"), std::string::npos) << mails[0];
    EXPECT_EQ(m_prompt.texts().size(), 1u); // the delivery reported no failure

    // The desktop program's switches: desktop notifications on, the tray off
    // when nothing is stored; OK writes both.
    auto* desktop = Find<QCheckBox>(sheet, "desktopNotifyCheck");
    auto* tray = Find<QCheckBox>(sheet, "trayOnCloseCheck");
    EXPECT_TRUE(desktop->isChecked());
    EXPECT_FALSE(tray->isChecked());
    desktop->setChecked(false);
    tray->setChecked(true);
    Find<QPushButton>(sheet, "okButton")->click();
    EXPECT_EQ(stored("ConfigNotificationDefaults", "DESKTOP_NOTIFY"), QStringLiteral("0"));
    EXPECT_EQ(stored("ConfigNotificationDefaults", "TRAY_ON_CLOSE"), QStringLiteral("1"));
}

} // namespace
} // namespace qm::test
