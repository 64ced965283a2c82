// The export and disk timers of a monitoring run, and local export files.

#include "StoreTestSupport.h"

#include "engine/ExportScheduler.h"
#include "engine/HostListModel.h"
#include "engine/MessagePaneModel.h"
#include "store/SettingsStore.h"
#include "store/StatusXml.h"
#include "support/Command.h"

#include <QRegularExpression>

namespace qm::test {
namespace {

class ExportSchedulerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        HostTexts texts;
        texts[ColHost] = "web & mail";
        texts[ColProtocol] = "HTTP";
        texts[ColPort] = "80";
        m_hosts.insertHost(0, texts, 4);
        m_pane.addLine({"HTTP//web:80 200 OK", 0, "12", "06 Dec 26 02:35:41"});
        m_settings.writeInt("ConfigXML", "ENABLE", 1);
    }

    ScopedCurrentDir m_cwd;
    SettingsStore m_settings{m_cwd.path() + "/settings.ini"};
    ScriptedPrompt m_prompt;
    HostListModel m_hosts;
    MessagePaneModel m_pane;
    ExportScheduler m_scheduler{m_hosts, m_pane, m_prompt};
};

TEST_F(ExportSchedulerTest, TimersRunOnlyWhenEnabledAtStart)
{
    m_settings.writeInt("ConfigXML", "ENABLE", 0);
    m_scheduler.start(m_settings);
    EXPECT_FALSE(m_scheduler.isActive());

    m_settings.writeInt("ConfigXML", "ENABLE", 1);
    m_settings.writeInt("ConfigXML", "FREQUENCY", 7);
    m_scheduler.start(m_settings);
    EXPECT_TRUE(m_scheduler.isActive());
    EXPECT_EQ(m_scheduler.exportPeriodMs(), 7000);
    m_scheduler.stop();
    EXPECT_FALSE(m_scheduler.isActive());

    // A period of zero would export without pause: one second at least.
    m_settings.writeInt("ConfigXML", "FREQUENCY", 0);
    m_scheduler.start(m_settings);
    EXPECT_EQ(m_scheduler.exportPeriodMs(), 1000);
}

TEST_F(ExportSchedulerTest, ExportWritesBothDocumentsToTheLocalFolder)
{
    const QString folder = m_cwd.path() + "/www";
    m_settings.writeInt("ConfigXML", "LOCAL_RADIO", 1);
    m_settings.writeString("ConfigXML", "LOCAL_FOLDER", folder);
    m_scheduler.start(m_settings);
    int stamps = 0;
    QObject::connect(&m_scheduler, &ExportScheduler::lastExportTextChanged,
                     [&](const QString& text) {
                         ++stamps;
                         EXPECT_EQ(text, m_scheduler.lastExportText());
                     });

    // A folder that is not there is shown for each document.
    m_scheduler.exportNow();
    const auto shown = m_prompt.texts();
    ASSERT_EQ(shown.size(), 2u) << Shown(m_prompt);
    EXPECT_NE(shown[0].find("www/server.xml"), std::string::npos) << shown[0];
    EXPECT_NE(shown[1].find("www/message.xml"), std::string::npos) << shown[1];

    ASSERT_TRUE(QDir().mkpath(folder));
    m_scheduler.exportNow();
    ASSERT_EQ(stamps, 2);
    EXPECT_TRUE(
        QRegularExpression("^Last XML Update: \\w{3}, \\d\\d \\w{3} \\d{4} \\d\\d:\\d\\d:\\d\\d$")
            .match(m_scheduler.lastExportText())
            .hasMatch())
        << m_scheduler.lastExportText().toStdString();
    EXPECT_EQ(ReadBytes(folder + "/server.xml"),
              StatusXml::ServerDocument({{4, m_hosts.texts(0)}}));
    EXPECT_TRUE(ReadBytes(folder + "/message.xml")
                    .contains("\t\t<text>HTTP//web:80 200 OK</text>\n\t\t<responsetime>12</"
                              "responsetime>\n\t\t<timedate>06 Dec 26 02:35:41</timedate>\n"));
    // Replaced whole: no temporary files stay behind.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList({"message.xml", "server.xml"}));
    EXPECT_EQ(m_prompt.texts().size(), 2u) << Shown(m_prompt);
}

TEST_F(ExportSchedulerTest, NoDestinationOrDisabledWritesNothingButStampsTheTime)
{
    m_scheduler.start(m_settings);
    m_scheduler.exportNow();
    EXPECT_TRUE(m_scheduler.lastExportText().startsWith("Last XML Update: "));
    EXPECT_TRUE(QDir(m_cwd.path()).entryList({"*.xml"}, QDir::Files).isEmpty());

    // Switched off while monitoring runs: the timers go on, exports write nothing.
    m_settings.writeInt("ConfigXML", "LOCAL_RADIO", 1);
    m_settings.writeString("ConfigXML", "LOCAL_FOLDER", m_cwd.path());
    m_settings.writeInt("ConfigXML", "ENABLE", 0);
    m_scheduler.exportNow();
    EXPECT_TRUE(m_scheduler.isActive());
    EXPECT_TRUE(QDir(m_cwd.path()).entryList({"*.xml"}, QDir::Files).isEmpty());
    EXPECT_TRUE(m_prompt.texts().empty()) << Shown(m_prompt);
}

TEST_F(ExportSchedulerTest, DiskTextNamesTheFileSystemOfTheDatabase)
{
    m_scheduler.setDatabaseFile(m_cwd.path() + "/Quillmere.mdb");
    int texts = 0;
    QObject::connect(&m_scheduler, &ExportScheduler::diskTextChanged, [&] { ++texts; });
    m_scheduler.refreshDiskText();
    ASSERT_EQ(texts, 1);

    // df names the mount point independently.
    const CommandResult df = RunCommand("df --output=target " + m_cwd.path().toStdString(), 20);
    const QStringList lines = QString::fromStdString(df.output).trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2) << lines.join('|').toStdString();
    const QRegularExpression form("^HD FreeSpace (\\d+) MB on (.+)$");
    const auto match = form.match(m_scheduler.diskText());
    ASSERT_TRUE(match.hasMatch()) << m_scheduler.diskText().toStdString();
    EXPECT_EQ(match.captured(2), lines[1].trimmed());
}

} // namespace
} // namespace qm::test
