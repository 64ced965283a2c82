// The wizard's and the configuration sheet's mappings, without widgets: a
// host row to page fields and back, the defaults a new host starts from, the
// integer fields and the folder status line.

#include "store/HostFields.h"
#include "probes/Base64.h"
#include "store/ConfigSections.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"
#include "support/HostRows.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

// Each listed column of the row holds its text.
TEST(HostFields, RowLoadsByTheColumnRulesAndWritesBackAStoppedRow)
{
    HostTexts row;
    const std::pair<int, const char*> stored[] = {
        {ColHost, "www.lan"},          {ColProtocol, "HTTP"},          {ColPort, "8080x"},
        {ColFreq, "45 sec"},           {ColFloatErrs, "1"},            {ColFloatErrsSens, "3"},
        {ColEnabled, "0"},             {ColNotifyPagerEnable, "junk"}, {ColThreadStatus, "Sleeping..."},
        {ColResponseTime, "<10 msec"}, {ColMessage, "200 OK [srv]"},   {ColPolls, "12"},
        {ColFailures, "3"},            {ColPercFailure, "25.00%"},     {ColFloatStat, "2"},
    };
    for (const auto& [column, text] : stored)
        row[column] = QString::fromUtf8(text);
    row[ColPassword] = QString::fromStdString(Base64Encode("p@ss:w=rd"));

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
    EXPECT_EQ(written[ColPassword], QString::fromStdString(Base64Encode("n3w pass")));
    // The run-time columns are a stopped host's; the last reply stays.
    ExpectColumns(written, {{ColFloatErrsSens, "0"}, {ColPort, "8080"}, {ColFreq, "45 sec"},
                            {ColNotifyPagerEnable, "0"}, {ColThreadStatus, "Stopped..."}, {ColPolls, "0"},
                            {ColFailures, "0"}, {ColPercFailure, "0%"}, {ColFloatStat, "0"},
                            {ColResponseTime, row[ColResponseTime]}, {ColMessage, row[ColMessage]}});

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
    ExpectColumns(plain, {{ColFreq, "120 sec"}, {ColFloatErrs, "0"}, {ColEnabled, "1"}, {ColPercFailure, "0%"},
                          {ColThreadStatus, "Stopped..."}});
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
    // The password is stored as typed and held encoded; the sensitivity is
    // 11 minus the slider position.
    ExpectColumns(t, {{ColFreq, "45 sec"}, {ColUserId, "ops"}, {ColPassword, "cHc="},
                      {ColFloatErrs, "1"}, {ColFloatErrsSens, "3"}, {ColNotifyEnable, "1"},
                      {ColNotifyMailEnable, "1"}, {ColNotifySoundEnable, "0"},
                      {ColNotifyMailAddress, "ops@lan"}, {ColNotifyMailServer, "mx"}});
    const HostFields f = HostFieldsFromRow(t);
    EXPECT_EQ(f.password, "pw");
    EXPECT_EQ(f.sensitivitySlider, 8);

    // Saving one section writes none of the others.
    EXPECT_EQ(store.readString("ConfigXML", "FTP_URL", "unset"), "unset");
    EXPECT_EQ(store.readString("ConfigDatabase", "DATABASE_FILE", "unset"), "unset");
}

TEST(HostFields, IntegerFieldsTakeDigitsOnlyColumnNumbersTheLeadingOneAndTheStatusLineIsCut)
{
    for (const char* refused : {"", "12a", "-1", "+5", " 1", "65536", "99999999999999999999"})
        EXPECT_FALSE(ParseWholeNumber(QString::fromLatin1(refused), 65535)) << refused;
    EXPECT_EQ(ParseWholeNumber("0065535", 65535), 65535);
    EXPECT_EQ(ParseWholeNumber("2147483647", 2147483647), 2147483647);
    EXPECT_EQ(ColumnNumber("60 sec"), 60);
    EXPECT_EQ(ColumnNumber("-3x"), -3);
    EXPECT_EQ(ColumnNumber(""), 0);
    EXPECT_EQ(ColumnNumber("abc"), 0);

    const QString exact(35, 'a');
    EXPECT_EQ(FolderStatusText(exact), exact);
    EXPECT_EQ(FolderStatusText(exact + "b"), exact + "...");
}

} // namespace
} // namespace qm::test
