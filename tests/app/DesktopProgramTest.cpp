// quillmere end to end: the program starts on the settings and database files
// of its command line, and SIGTERM closes it the way the operator would, with
// the hosts and the column preferences saved.

#include "store/HostStore.h"
#include "store/SettingsStore.h"
#include "support/EventPump.h"
#include "support/HostRows.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <gtest/gtest.h>

namespace qm::test {
namespace {

using namespace std::chrono_literals;

TEST(DesktopProgramTest, OpensTheGivenFilesAndClosesCleanlyOnSigterm)
{
    QTemporaryDir dir;
    const QString settings = dir.filePath("Quillmere.conf");
    const QString database = dir.filePath("given.db");
    {
        SettingsStore store(settings);
        const HostTexts row = MakeRow("127.0.0.1", "HTTP", 80);
        SaveHosts(store, {row, row});
        store.writeInt("PREFERENCES", "ViewColPolls", 0);
        ASSERT_TRUE(store.sync());
    }

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QUILLMERE_DESKTOP_BIN), {"--settings", settings, database});
    ASSERT_TRUE(program.waitForStarted(10000));
    // The database named on the command line is created at start-up.
    ASSERT_TRUE(PumpEventsUntil([&] { return QFileInfo::exists(database); }, 20s))
        << program.readAllStandardError().toStdString();

    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();

    SettingsStore saved(settings);
    EXPECT_EQ(saved.readInt("HOSTS", "Count", -1), 2);
    EXPECT_EQ(saved.readInt("PREFERENCES", "ViewColPolls", -1), 0);
    EXPECT_EQ(saved.readInt("PREFERENCES", "ViewColMessage", -1), 1);
    EXPECT_FALSE(saved.readString("PREFERENCES", "WindowGeometry").isEmpty());
}

} // namespace
} // namespace qm::test
