#include "ui/AboutDialog.h"
#include "platform/SystemStats.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <unistd.h>

using qm::SystemStats;
using qm::ui::AboutDialog;

TEST(AboutDialog, ShowsTheDiskOfTheDatabaseAndTheMemoryFigures)
{
    QCoreApplication::setApplicationVersion(QStringLiteral("4.5.6"));
    // A database file that does not exist yet, preferably on a file system
    // other than the working directory's.
    const QString folder = QFileInfo::exists(QStringLiteral("/dev/shm"))
                               ? QStringLiteral("/dev/shm")
                               : QDir::tempPath();
    const QString database = folder + QStringLiteral("/qm-about-%1/results.db").arg(::getpid());

    AboutDialog dialog(database);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("About Velk"));
    const auto* version = dialog.findChild<QLabel*>(QStringLiteral("versionLabel"));
    ASSERT_NE(version, nullptr);
    EXPECT_TRUE(version->text().contains(QStringLiteral("Quillmere 4.5.6")))
        << version->text().toStdString();

    const auto field = [&dialog](const char* name) {
        const auto* edit = dialog.findChild<QLineEdit*>(QLatin1String(name));
        EXPECT_NE(edit, nullptr) << name;
        return edit ? edit->text() : QString();
    };
    SystemStats stats;
    ASSERT_TRUE(stats.queryDisk(database.toStdString())) << stats.diskError();

    static const QRegularExpression disk(QStringLiteral("^(\\d+) MB$"));
    const auto freeMatch = disk.match(field("diskFreeEdit"));
    ASSERT_TRUE(freeMatch.hasMatch()) << field("diskFreeEdit").toStdString();
    // Others may write to the disk meanwhile.
    EXPECT_NEAR(freeMatch.captured(1).toDouble(), double(stats.diskFreeBytes() / 1048576), 64.0);
    EXPECT_EQ(field("diskTotalEdit").toStdString(),
              SystemStats::DiskMegabytesText(stats.diskTotalBytes()));

    static const QRegularExpression memory(QStringLiteral("^\\d+\\.\\d\\d Mb$"));
    for (const char* name : {"availPhysicalEdit", "availVirtualEdit", "availPageFileEdit"})
        EXPECT_TRUE(memory.match(field(name)).hasMatch())
            << name << ": " << field(name).toStdString();
    // The totals do not change while the test runs.
    EXPECT_EQ(field("totalPageFileEdit").toStdString(),
              SystemStats::MemoryMegabytesText(stats.totalPageFile()));
    EXPECT_EQ(field("totalPhysicalEdit").toStdString(),
              SystemStats::MemoryMegabytesText(stats.totalPhysical()));
    EXPECT_EQ(field("totalVirtualEdit").toStdString(),
              SystemStats::MemoryMegabytesText(stats.totalVirtual()));

    auto* close = dialog.findChild<QPushButton*>(QStringLiteral("closeButton"));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), QStringLiteral("CLOSE"));
    close->click();
    EXPECT_FALSE(dialog.isVisible());
}
