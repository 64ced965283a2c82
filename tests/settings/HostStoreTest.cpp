// The settings store: hosts and preferences survive a round trip, missing
// values repeat the previous host's, and the file stays private.

#include "probes/Base64.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qm::test {
namespace {

HostTexts Host(const QString& name, const QString& protocol)
{
    HostTexts t;
    t[ColHost] = name;
    t[ColAddress] = QStringLiteral("192.0.2.7");
    t[ColNickname] = QStringLiteral("nick ") + name;
    t[ColProtocol] = protocol;
    t[ColPort] = QStringLiteral("8080");
    t[ColFreq] = QStringLiteral("60 sec");
    t[ColUserId] = QStringLiteral("admin");
    t[ColPassword] = QString::fromStdString(Base64Encode("s3cret:with=signs"));
    t[ColDomain] = QStringLiteral("@lan");
    t[ColFloatErrs] = QStringLiteral("1");
    t[ColFloatErrsSens] = QStringLiteral("3");
    t[ColEnabled] = QStringLiteral("1");
    t[ColNotifyEnable] = QStringLiteral("1");
    t[ColNotifySoundEnable] = QStringLiteral("0");
    t[ColNotifySoundFile] = QStringLiteral("/usr/share/sounds/alert.wav");
    t[ColNotifyMailEnable] = QStringLiteral("1");
    t[ColNotifyMailAddress] = QStringLiteral("ops@lan");
    t[ColNotifyMailServer] = QStringLiteral("smtp.lan");
    t[ColNotifyPagerEnable] = QStringLiteral("0");
    t[ColNotifyPagerSequence] = QStringLiteral("555,,1#");
    return t;
}

class HostStoreTest : public ::testing::Test
{
protected:
    QString file() const { return m_dir.filePath(QStringLiteral("q.conf")); }
    QTemporaryDir m_dir;
};

TEST_F(HostStoreTest, HostsAndPreferencesRoundTrip)
{
    std::vector<HostTexts> hosts{Host(QStringLiteral("a.lan"), QStringLiteral("HTTP")),
                                 Host(QStringLiteral("b.lan"), QStringLiteral("QUOTE OF THE DAY"))};
    hosts[1][ColPassword].clear();
    ColumnPreferences prefs;
    prefs.shown[1] = false;
    prefs.shown[10] = false;
    {
        SettingsStore store(file());
        SaveHosts(store, hosts);
        SaveColumnPreferences(store, prefs);
        ASSERT_TRUE(store.sync());
    }
    SettingsStore store(file());
    ASSERT_TRUE(store.loadError().isEmpty());
    const auto loaded = LoadHosts(store);
    ASSERT_EQ(loaded.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i)
        for (const auto& v : kStoredHostValues)
            EXPECT_EQ(loaded[i][v.column], hosts[i][v.column]) << v.name;
    // Run-time columns start as a stopped host's.
    EXPECT_EQ(loaded[0][ColThreadStatus], QStringLiteral("Stopped..."));
    EXPECT_EQ(loaded[0][ColPolls], QStringLiteral("0"));
    EXPECT_EQ(loaded[0][ColPercFailure], QStringLiteral("0.00%"));
    EXPECT_EQ(loaded[0][ColFloatStat], QStringLiteral("0"));
    EXPECT_EQ(Base64Decode(loaded[0][ColPassword].toStdString()), "s3cret:with=signs");
    EXPECT_EQ(store.readString(QStringLiteral("HOSTS\\0"), QStringLiteral("PSWD")), hosts[0][ColPassword]);
    EXPECT_EQ(store.readString(QStringLiteral("HOSTS\\1"), QStringLiteral("PSWD")), QString());

    const ColumnPreferences back = LoadColumnPreferences(store);
    EXPECT_EQ(back.shown, prefs.shown);

    // The file holds passwords: owner only.
    struct stat st{};
    ASSERT_EQ(::stat(QFile::encodeName(file()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(HostStoreTest, MissingValuesRepeatThePreviousHostAndShrinkingKeepsOldSections)
{
    {
        SettingsStore store(file());
        store.writeInt(QStringLiteral("HOSTS"), QStringLiteral("Count"), 3);
        store.writeString(QStringLiteral("HOSTS\\0"), QStringLiteral("HOST"), QStringLiteral("first"));
        store.writeString(QStringLiteral("HOSTS\\0"), QStringLiteral("PROT"), QStringLiteral("ECHO"));
        store.writeString(QStringLiteral("HOSTS\\1"), QStringLiteral("HOST"), QStringLiteral("second"));
        // HOSTS\2 is missing altogether.
    }
    SettingsStore store(file());
    auto hosts = LoadHosts(store);
    ASSERT_EQ(hosts.size(), 3u);
    EXPECT_EQ(hosts[1][ColHost], QStringLiteral("second"));
    EXPECT_EQ(hosts[1][ColProtocol], QStringLiteral("ECHO"));
    EXPECT_EQ(hosts[2][ColHost], QStringLiteral("second"));
    EXPECT_EQ(hosts[2][ColProtocol], QStringLiteral("ECHO"));
    EXPECT_TRUE(hosts[0][ColNickname].isEmpty());

    // Deleting hosts shrinks Count; the higher sections stay but are ignored.
    hosts.resize(1);
    SaveHosts(store, hosts);
    EXPECT_EQ(store.readInt(QStringLiteral("HOSTS"), QStringLiteral("Count"), -1), 1);
    EXPECT_EQ(store.readString(QStringLiteral("HOSTS\\1"), QStringLiteral("HOST")), QStringLiteral("second"));
    EXPECT_EQ(LoadHosts(store).size(), 1u);
}

TEST_F(HostStoreTest, FirstStartHasNoHostsAndAllColumnsShown)
{
    SettingsStore store(file());
    EXPECT_TRUE(LoadHosts(store).empty());
    for (bool shown : LoadColumnPreferences(store).shown)
        EXPECT_TRUE(shown);
}

TEST_F(HostStoreTest, NewHostsStartFromTheConfiguredDefaults)
{
    SettingsStore store(file());
    HostTexts plain = NewHostFromDefaults(store);
    EXPECT_EQ(plain[ColFreq], QStringLiteral("120 sec"));
    EXPECT_EQ(plain[ColFloatErrs], QStringLiteral("0"));
    EXPECT_EQ(plain[ColEnabled], QStringLiteral("1"));
    EXPECT_EQ(plain[ColPercFailure], QStringLiteral("0%"));
    EXPECT_EQ(plain[ColThreadStatus], QStringLiteral("Stopped..."));

    store.writeInt(QStringLiteral("ConfigFrequency"), QStringLiteral("FREQUENCY"), 30);
    store.writeString(QStringLiteral("ConfigAuthenticationDefaults"), QStringLiteral("PSWD"), QStringLiteral("pw"));
    store.writeInt(QStringLiteral("ConfigFloatDefaults"), QStringLiteral("FLOAT_ENABLE"), 1);
    store.writeInt(QStringLiteral("ConfigFloatDefaults"), QStringLiteral("SENSITIVITY"), 8);
    store.writeInt(QStringLiteral("ConfigNotificationDefaults"), QStringLiteral("EMAIL_ENABLE"), 5);
    store.writeString(QStringLiteral("ConfigNotificationDefaults"), QStringLiteral("EMAIL_SMTP"), QStringLiteral("mx"));
    HostTexts t = NewHostFromDefaults(store);
    EXPECT_EQ(t[ColFreq], QStringLiteral("30 sec"));
    EXPECT_EQ(t[ColPassword], QStringLiteral("cHc=")); // stored as typed, held encoded
    EXPECT_EQ(t[ColFloatErrs], QStringLiteral("1"));
    EXPECT_EQ(t[ColFloatErrsSens], QStringLiteral("3")); // 11 minus the slider position
    EXPECT_EQ(t[ColNotifyMailEnable], QStringLiteral("1"));
    EXPECT_EQ(t[ColNotifyMailServer], QStringLiteral("mx"));
}

TEST_F(HostStoreTest, UnreadableFileIsReportedAndUnparsableNumbersFallBack)
{
    QFile f(file());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[ConfigXML]\nFREQUENCY=soon\n");
    f.close();
    SettingsStore store(file());
    EXPECT_TRUE(store.loadError().isEmpty());
    EXPECT_EQ(store.readInt(QStringLiteral("ConfigXML"), QStringLiteral("FREQUENCY"), 60), 60);

    EXPECT_EQ(ColumnNumber(QStringLiteral("60 sec")), 60);
    EXPECT_EQ(ColumnNumber(QStringLiteral("")), 0);
    EXPECT_EQ(ColumnNumber(QStringLiteral("abc")), 0);
    EXPECT_EQ(ColumnNumber(QStringLiteral("-3x")), -3);
}

} // namespace
} // namespace qm::test
