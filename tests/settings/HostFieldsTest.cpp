// The wizard's and the configuration sheet's mappings, without widgets: a
// host row to page fields and back, the defaults a new host starts from, the
// integer fields and the folder status line.

#include "store/HostFields.h"
#include "probes/Base64.h"
#include "store/ConfigSections.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

TEST(HostFields, RowLoadsByTheColumnRulesAndWritesBackAStoppedRow)
{
    HostTexts row;
    row[ColHost] = "www.lan";
    row[ColProtocol] = "HTTP";
    row[ColPort] = "8080x";
    row[ColFreq] = "45 sec";
    row[ColPassword] = QString::fromStdString(Base64Encode("p@ss:w=rd"));
    row[ColFloatErrs] = "1";
    row[ColFloatErrsSens] = "3";
    row[ColEnabled] = "0";
    row[ColNotifyPagerEnable] = "junk";
    row[ColThreadStatus] = "Sleeping...";
    row[ColResponseTime] = "<10 msec";
    row[ColMessage] = "200 OK [srv]";
    row[ColPolls] = "12";
    row[ColFailures] = "3";
    row[ColPercFailure] = "25.00%";
    row[ColFloatStat] = "2";

    HostFields f = HostFieldsFromRow(row);
    EXPECT_EQ(f.port, 8080);
    EXPECT_EQ(f.frequency, 45);
    EXPECT_EQ(f.password, "p@ss:w=rd");
    EXPECT_TRUE(f.floatEnabled);
    EXPECT_EQ(f.sensitivitySlider, 8);
    EXPECT_FALSE(f.pollingEnabled);
    EXPECT_FALSE(f.notification.pagerEnabled);

    f.sensitivitySlider = 11;
    f.password = "n3w pass";
    const HostTexts written = HostRowFromFields(f, row);
    EXPECT_EQ(written[ColFloatErrsSens], "0");
    EXPECT_EQ(written[ColPassword], QString::fromStdString(Base64Encode("n3w pass")));
    EXPECT_EQ(written[ColPort], "8080");
    EXPECT_EQ(written[ColFreq], "45 sec");
    EXPECT_EQ(written[ColNotifyPagerEnable], "0");
    EXPECT_EQ(written[ColThreadStatus], "Stopped...");
    EXPECT_EQ(written[ColPolls], "0");
    EXPECT_EQ(written[ColFailures], "0");
    EXPECT_EQ(written[ColPercFailure], "0%");
    EXPECT_EQ(written[ColFloatStat], "0");
    EXPECT_EQ(written[ColResponseTime], row[ColResponseTime]);
    EXPECT_EQ(written[ColMessage], row[ColMessage]);

    // A sensitivity outside 0..10 still puts the slider on its scale.
    row[ColFloatErrsSens] = "-4";
    EXPECT_EQ(HostFieldsFromRow(row).sensitivitySlider, 11);
    row[ColFloatErrsSens].clear();
    EXPECT_EQ(HostFieldsFromRow(row).sensitivitySlider, 11);
}

TEST(HostFields, ANewHostStartsFromTheConfiguredDefaults)
{
    QTemporaryDir dir;
    SettingsStore store(dir.filePath("q.conf"));
    EXPECT_EQ(LoadXmlExportSettings(store).frequency, 60);
    EXPECT_EQ(LoadNotificationDefaults(store).modemDevice, "/dev/ttyACM0");
    EXPECT_EQ(LoadFloatDefaults(store).sensitivity, 0);
    const HostTexts plain = NewHostFromDefaults(store);
    EXPECT_EQ(plain[ColFreq], "120 sec");
    EXPECT_EQ(plain[ColFloatErrs], "0");
    EXPECT_EQ(plain[ColEnabled], "1");
    EXPECT_EQ(plain[ColPercFailure], "0%");
    EXPECT_EQ(plain[ColThreadStatus], "Stopped...");
    EXPECT_EQ(HostFieldsFromRow(plain).sensitivitySlider, 1);

    SaveAuthenticationDefaults(store, {"ops", "pw", "lan"});
    SaveFloatDefaults(store, {true, 8});
    SaveFrequencyDefault(store, 45);
    NotificationFields n;
    n.enabled = n.mailEnabled = true;
    n.mailTo = "ops@lan";
    n.mailServer = "mx";
    SaveNotificationDefaults(store, n);
    // Under the names the settings file has always used; a flag is any
    // number but zero.
    EXPECT_EQ(store.readInt("ConfigFrequency", "FREQUENCY", 0), 45);
    EXPECT_EQ(store.readString("ConfigAuthenticationDefaults", "PSWD"), "pw");
    EXPECT_EQ(store.readInt("ConfigFloatDefaults", "FLOAT_ENABLE", 0), 1);
    EXPECT_EQ(store.readInt("ConfigFloatDefaults", "SENSITIVITY", 0), 8);
    EXPECT_EQ(store.readString("ConfigNotificationDefaults", "EMAIL_SMTP"), "mx");
    store.writeInt("ConfigNotificationDefaults", "EMAIL_ENABLE", 5);

    const HostTexts t = NewHostFromDefaults(store);
    EXPECT_EQ(t[ColFreq], "45 sec");
    EXPECT_EQ(t[ColUserId], "ops");
    EXPECT_EQ(t[ColPassword], "cHc="); // stored as typed, held encoded
    EXPECT_EQ(t[ColFloatErrs], "1");
    EXPECT_EQ(t[ColFloatErrsSens], "3"); // 11 minus the slider position
    EXPECT_EQ(t[ColNotifyEnable], "1");
    EXPECT_EQ(t[ColNotifyMailEnable], "1");
    EXPECT_EQ(t[ColNotifySoundEnable], "0");
    EXPECT_EQ(t[ColNotifyMailAddress], "ops@lan");
    EXPECT_EQ(t[ColNotifyMailServer], "mx");
    const HostFields f = HostFieldsFromRow(t);
    EXPECT_EQ(f.password, "pw");
    EXPECT_EQ(f.sensitivitySlider, 8);

    // Saving one section writes none of the others.
    EXPECT_EQ(store.readString("ConfigXML", "FTP_URL", "unset"), "unset");
    EXPECT_EQ(store.readString("ConfigDatabase", "DATABASE_FILE", "unset"), "unset");
}

TEST(HostFields, IntegerFieldsTakeDigitsOnlyAndTheStatusLineIsCut)
{
    for (const char* refused : {"", "12a", "-1", "+5", " 1", "65536", "99999999999999999999"})
        EXPECT_FALSE(ParseWholeNumber(QString::fromLatin1(refused), 65535)) << refused;
    EXPECT_EQ(ParseWholeNumber("0065535", 65535), 65535);
    EXPECT_EQ(ParseWholeNumber("2147483647", 2147483647), 2147483647);

    const QString exact(35, 'a');
    EXPECT_EQ(FolderStatusText(exact), exact);
    EXPECT_EQ(FolderStatusText(exact + "b"), exact + "...");
}

} // namespace
} // namespace qm::test
