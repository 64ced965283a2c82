// The settings store: hosts and preferences survive a round trip, missing
// values repeat the previous host's, and the file stays private.

#include "store/HostStore.h"
#include "probes/Base64.h"
#include "store/SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qm::test {
namespace {

// Every stored value distinct, with characters a settings file must escape.
HostTexts Host(const QString& name)
{
    HostTexts t;
    for (const auto& v : kStoredHostValues)
        t[v.column] = QString::fromUtf8("%1 %2 =;, \"q\" \u00e9#").arg(name, v.name.data());
    t[ColPassword] = QString::fromStdString(Base64Encode("s3cret:with=signs"));
    return t;
}

class HostStoreTest : public ::testing::Test
{
protected:
    QString file() const { return m_dir.filePath("q.conf"); }
    QTemporaryDir m_dir;
};

TEST_F(HostStoreTest, HostsAndPreferencesRoundTrip)
{
    std::vector<HostTexts> hosts{Host("a.lan"), Host("b.lan")};
    hosts[1][ColPassword].clear();
    ColumnPreferences prefs;
    {
        SettingsStore store(file());
        // First start: no hosts, every column shown.
        EXPECT_TRUE(LoadHosts(store).empty());
        for (bool shown : LoadColumnPreferences(store).shown)
            EXPECT_TRUE(shown);
        prefs.shown[1] = prefs.shown[10] = false;
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
    EXPECT_EQ(loaded[0][ColThreadStatus], "Stopped...");
    EXPECT_EQ(loaded[0][ColPolls], "0");
    EXPECT_EQ(loaded[0][ColPercFailure], "0.00%");
    EXPECT_EQ(loaded[0][ColFloatStat], "0");
    EXPECT_EQ(Base64Decode(loaded[0][ColPassword].toStdString()), "s3cret:with=signs");
    EXPECT_EQ(store.readString("HOSTS\\0", "PSWD"), hosts[0][ColPassword]);
    EXPECT_EQ(store.readString("HOSTS\\1", "PSWD"), QString());

    const ColumnPreferences back = LoadColumnPreferences(store);
    EXPECT_EQ(back.shown, prefs.shown);

    // The file holds passwords: owner only.
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(file()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(HostStoreTest, MissingValuesRepeatThePreviousHostAndShrinkingKeepsOldSections)
{
    {
        SettingsStore store(file());
        store.writeInt("HOSTS", "Count", 3);
        store.writeString("HOSTS\\0", "HOST", "first");
        store.writeString("HOSTS\\0", "PROT", "ECHO");
        store.writeString("HOSTS\\1", "HOST", "second");
        // HOSTS\2 is missing altogether.
    }
    SettingsStore store(file());
    auto hosts = LoadHosts(store);
    ASSERT_EQ(hosts.size(), 3u);
    EXPECT_EQ(hosts[1][ColHost], "second");
    EXPECT_EQ(hosts[1][ColProtocol], "ECHO");
    EXPECT_EQ(hosts[2][ColHost], "second");
    EXPECT_EQ(hosts[2][ColProtocol], "ECHO");
    EXPECT_TRUE(hosts[0][ColNickname].isEmpty());

    // Deleting hosts shrinks Count; the higher sections stay but are ignored.
    hosts.resize(1);
    SaveHosts(store, hosts);
    EXPECT_EQ(store.readInt("HOSTS", "Count", -1), 1);
    EXPECT_EQ(store.readString("HOSTS\\1", "HOST"), "second");
    EXPECT_EQ(LoadHosts(store).size(), 1u);
}

TEST_F(HostStoreTest, UnreadableFileIsReportedAndUnparsableNumbersFallBack)
{
    QFile f(file());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[ConfigXML]\nFREQUENCY=soon\n");
    f.close();
    SettingsStore store(file());
    EXPECT_TRUE(store.loadError().isEmpty());
    EXPECT_EQ(store.readInt("ConfigXML", "FREQUENCY", 60), 60);

    EXPECT_EQ(ColumnNumber("60 sec"), 60);
    EXPECT_EQ(ColumnNumber(""), 0);
    EXPECT_EQ(ColumnNumber("abc"), 0);
    EXPECT_EQ(ColumnNumber("-3x"), -3);
}

} // namespace
} // namespace qm::test
