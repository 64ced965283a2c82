// The wizard's and the configuration sheet's mappings, without widgets: a
// host row to page fields and back, the defaults a new host starts from, the
// integer fields and the folder status line.

#include "probes/Base64.h"
#include "store/ConfigSections.h"
#include "store/HostFields.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qm::test {
namespace {

TEST(HostFields, RowLoadsByTheColumnRulesAndWritesBackAStoppedRow)
{
    HostTexts row;
    row[ColHost] = QStringLiteral("www.lan");
    row[ColProtocol] = QStringLiteral("HTTP");
    row[ColPort] = QStringLiteral("8080x");
    row[ColFreq] = QStringLiteral("45 sec");
    row[ColPassword] = QString::fromStdString(Base64Encode("p@ss:w=rd"));
    row[ColFloatErrs] = QStringLiteral("1");
    row[ColFloatErrsSens] = QStringLiteral("3");
    row[ColEnabled] = QStringLiteral("0");
    row[ColNotifyPagerEnable] = QStringLiteral("junk");
    row[ColThreadStatus] = QStringLiteral("Sleeping...");
    row[ColResponseTime] = QStringLiteral("<10 msec");
    row[ColMessage] = QStringLiteral("200 OK [srv]");
    row[ColPolls] = QStringLiteral("12");
    row[ColFailures] = QStringLiteral("3");
    row[ColPercFailure] = QStringLiteral("25.00%");
    row[ColFloatStat] = QStringLiteral("2");

    HostFields f = HostFieldsFromRow(row);
    EXPECT_EQ(f.port, 8080);
    EXPECT_EQ(f.frequency, 45);
    EXPECT_EQ(f.password, QStringLiteral("p@ss:w=rd"));
    EXPECT_TRUE(f.floatEnabled);
    EXPECT_EQ(f.sensitivitySlider, 8);
    EXPECT_FALSE(f.pollingEnabled);
    EXPECT_FALSE(f.notification.pagerEnabled);

    f.sensitivitySlider = 11;
    f.password = QStringLiteral("n3w pass");
    const HostTexts written = HostRowFromFields(f, row);
    EXPECT_EQ(written[ColFloatErrsSens], QStringLiteral("0"));
    EXPECT_EQ(written[ColPassword], QString::fromStdString(Base64Encode("n3w pass")));
    EXPECT_EQ(written[ColPort], QStringLiteral("8080"));
    EXPECT_EQ(written[ColFreq], QStringLiteral("45 sec"));
    EXPECT_EQ(written[ColNotifyPagerEnable], QStringLiteral("0"));
    EXPECT_EQ(written[ColThreadStatus], QStringLiteral("Stopped..."));
    EXPECT_EQ(written[ColPolls], QStringLiteral("0"));
    EXPECT_EQ(written[ColFailures], QStringLiteral("0"));
    EXPECT_EQ(written[ColPercFailure], QStringLiteral("0%"));
    EXPECT_EQ(written[ColFloatStat], QStringLiteral("0"));
    EXPECT_EQ(written[ColResponseTime], row[ColResponseTime]);
    EXPECT_EQ(written[ColMessage], row[ColMessage]);

    // A sensitivity outside 0..10 still puts the slider on its scale.
    row[ColFloatErrsSens] = QStringLiteral("-4");
    EXPECT_EQ(HostFieldsFromRow(row).sensitivitySlider, 11);
    row[ColFloatErrsSens].clear();
    EXPECT_EQ(HostFieldsFromRow(row).sensitivitySlider, 11);
}

TEST(HostFields, ANewHostStartsFromTheConfiguredDefaults)
{
    QTemporaryDir dir;
    SettingsStore store(dir.filePath(QStringLiteral("q.conf")));
    EXPECT_EQ(LoadFrequencyDefault(store), 120);
    EXPECT_EQ(LoadXmlExportSettings(store).frequency, 60);
    EXPECT_EQ(LoadNotificationDefaults(store).modemDevice, QStringLiteral("/dev/ttyACM0"));
    EXPECT_EQ(LoadFloatDefaults(store).sensitivity, 0);
    EXPECT_EQ(HostFieldsFromRow(NewHostFromDefaults(store)).sensitivitySlider, 1);

    SaveAuthenticationDefaults(store, {QStringLiteral("ops"), QStringLiteral("pw:1"), QStringLiteral("lan")});
    SaveFloatDefaults(store, {true, 4});
    SaveFrequencyDefault(store, 45);
    NotificationFields n;
    n.enabled = n.mailEnabled = true;
    n.mailTo = QStringLiteral("ops@lan");
    n.mailFrom = QStringLiteral("monitor@lan");
    SaveNotificationDefaults(store, n);

    const HostFields f = HostFieldsFromRow(NewHostFromDefaults(store));
    EXPECT_EQ(f.frequency, 45);
    EXPECT_EQ(f.userId, QStringLiteral("ops"));
    EXPECT_EQ(f.password, QStringLiteral("pw:1")); // stored as typed, held in clear
    EXPECT_TRUE(f.floatEnabled);
    EXPECT_EQ(f.sensitivitySlider, 4);
    EXPECT_TRUE(f.notification.enabled && f.notification.mailEnabled);
    EXPECT_FALSE(f.notification.soundEnabled);
    EXPECT_EQ(f.notification.mailTo, QStringLiteral("ops@lan"));

    // Saving one section writes none of the others.
    EXPECT_EQ(store.readString(QStringLiteral("ConfigXML"), QStringLiteral("FTP_URL"), QStringLiteral("unset")),
              QStringLiteral("unset"));
    EXPECT_EQ(store.readString(QStringLiteral("ConfigDatabase"), QStringLiteral("DATABASE_FILE"),
                               QStringLiteral("unset")),
              QStringLiteral("unset"));
}

TEST(HostFields, IntegerFieldsTakeDigitsOnlyAndTheStatusLineIsCut)
{
    for (const char* refused : {"", "12a", "-1", "+5", " 1", "65536", "99999999999999999999"})
        EXPECT_FALSE(ParseWholeNumber(QString::fromLatin1(refused), 65535)) << refused;
    EXPECT_EQ(ParseWholeNumber(QStringLiteral("0065535"), 65535), 65535);
    EXPECT_EQ(ParseWholeNumber(QStringLiteral("2147483647"), 2147483647), 2147483647);

    const QString exact(35, QLatin1Char('a'));
    EXPECT_EQ(FolderStatusText(exact), exact);
    EXPECT_EQ(FolderStatusText(exact + QStringLiteral("b")), exact + QStringLiteral("..."));
}

} // namespace
} // namespace qm::test
