// The settings store: hosts and preferences survive a round trip, missing
// values repeat the previous host's, the file stays private, and a damaged
// file is survived without being rewritten.

#include "store/HostStore.h"
#include "probes/Base64.h"
#include "store/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>

namespace qm::test {
namespace {

// Every stored value distinct, with characters a settings file must escape.
HostTexts Host(const QString& name)
{
    HostTexts t;
    for (const auto& v : kStoredHostValues)
        t[v.column] = QString::fromUtf8("%1 %2 =;, \"q\" \u00e9#").arg(name, v.name.data());
    t[ColPassword] = QString::fromStdString(Base64Encode("s3cret:with=signs"));
    t[ColFreq] = "45 sec";
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
    EXPECT_EQ(std::filesystem::status(file().toStdString()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
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

TEST_F(HostStoreTest, FileThatCannotBeReadOrWrittenIsTold)
{
    // A folder where the file should be cannot be read: what the operator
    // changes is never saved over it.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("q.conf"));
    {
        SettingsStore store(file());
        EXPECT_EQ(store.loadError(), "cannot read the settings file " + file());
        EXPECT_EQ(store.loadWarnings(),
                  QStringList{store.loadError() + "; what could be read is used and nothing is saved to it"});
        SaveHosts(store, {Host("a.lan")});
        EXPECT_TRUE(LoadHosts(store).empty());
        QString error;
        EXPECT_FALSE(store.sync(&error));
        EXPECT_EQ(error, store.loadError() + "; nothing was saved, the file is left as it is");
    }
    // A file read well whose folder turned into a file cannot be written.
    const QString inner = m_dir.filePath("gone/q.conf");
    SettingsStore store(inner);
    ASSERT_TRUE(store.loadError().isEmpty());
    ASSERT_TRUE(QDir(m_dir.filePath("gone")).removeRecursively());
    QFile blocker(m_dir.filePath("gone"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SaveHosts(store, {Host("a.lan")});
    QString error;
    EXPECT_FALSE(store.sync(&error));
    EXPECT_EQ(error, "cannot write the settings file " + inner);
}

TEST_F(HostStoreTest, DamagedFilesLoadWhatTheyCanWithWarnings)
{
    struct Case
    {
        const char* name;
        const char* file;
        QStringList hosts;    // "HOST FREQ" of each loaded host
        QStringList warnings; // a text each warning holds, in order
        bool malformed = false;
    };
    const Case cases[] = {
        {"absurd count", "[HOSTS]\nCount=2000000000\n0\\HOST=a\n0\\FREQ=60 sec\n7\\HOST=b\n",
         {"a 60 sec", "b 60 sec"}, {"\"Count\" is \"2000000000\": only the 2 stored"}},
        {"count not a number", "[HOSTS]\nCount=lots\n1\\HOST=b\n1\\FREQ=5 sec\n",
         {"b 5 sec"}, {"\"Count\" is \"lots\""}},
        {"negative count", "[HOSTS]\nCount=-3\n0\\HOST=a\n0\\FREQ=9 sec\n", {"a 9 sec"}, {"is \"-3\""}},
        {"bad frequencies",
         "[HOSTS]\nCount=4\n0\\HOST=a\n0\\FREQ=-5 sec\n1\\HOST=b\n1\\FREQ=soon\n"
         "2\\HOST=c\n2\\FREQ=60\n3\\HOST=d\n3\\FREQ=99999999999 sec\n[ConfigXML]\nFREQUENCY=soon\n",
         {"a 120 sec", "b 120 sec", "c 60 sec", "d 120 sec"},
         {"host \"a\": frequency \"-5 sec\" is not a number of seconds; 120 sec is used", "host \"b\"",
          "host \"d\""}},
        {"no frequency at all", "[HOSTS]\nCount=2\n0\\HOST=a\n1\\HOST=b\n", {"a 120 sec", "b 120 sec"},
         {"host \"a\"", "host \"b\""}},
        {"malformed file", "[HOSTS]\nCount=2\n0\\HOST=a\n0\\FREQ=30 sec\n[HOSTS\n1\\HOST=b\n",
         {"a 30 sec", "b 30 sec"}, {"not in a readable format; what could be read is used"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.file);
        f.close();
        {
            SettingsStore store(file());
            EXPECT_EQ(!store.loadError().isEmpty(), c.malformed);
            LoadHosts(store); // a second load tells nothing new
            auto hosts = LoadHosts(store);
            QStringList loaded;
            for (const HostTexts& h : hosts)
                loaded << h[ColHost] + ' ' + h[ColFreq];
            EXPECT_EQ(loaded, c.hosts);
            EXPECT_EQ(store.readInt("ConfigXML", "FREQUENCY", 60), 60); // absent or not a number
            const QStringList warnings = store.loadWarnings();
            ASSERT_EQ(warnings.size(), c.warnings.size()) << warnings.join('\n').toStdString();
            for (qsizetype i = 0; i < warnings.size(); ++i)
                EXPECT_TRUE(warnings[i].contains(c.warnings[i])) << warnings[i].toStdString();

            // A file Qt could not read whole refuses every save and stays as it is.
            hosts.pop_back();
            SaveHosts(store, hosts);
            SaveColumnPreferences(store, {});
            QString error;
            EXPECT_EQ(store.sync(&error), !c.malformed);
            EXPECT_EQ(error.contains("nothing was saved"), c.malformed) << error.toStdString();
        }
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll() == c.file, c.malformed);
        f.close();
    }
}

} // namespace
} // namespace qm::test
