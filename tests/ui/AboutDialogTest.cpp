#include "platform/SystemStats.h"
#include "support/UiFixture.h"
#include "ui/AboutDialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <unistd.h>

namespace qm::test {
namespace {

TEST(AboutDialog, ShowsTheDiskOfTheDatabaseAndTheMemoryFigures)
{
    QCoreApplication::setApplicationVersion(QStringLiteral("4.5.6"));
    // A database file that does not exist yet, preferably on a file system
    // other than the working directory's.
    const QString folder = QFileInfo::exists(QStringLiteral("/dev/shm"))
                               ? QStringLiteral("/dev/shm")
                               : QDir::tempPath();
    const QString database = folder + QStringLiteral("/qm-about-%1/results.db").arg(::getpid());

    ui::AboutDialog dialog(database);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("About Velk"));
    const auto* version = Find<QLabel>(dialog, "versionLabel");
    ASSERT_NE(version, nullptr);
    EXPECT_TRUE(version->text().contains(QStringLiteral("Quillmere 4.5.6"))) << version->text().toStdString();

    const auto field = [&dialog](const char* name) {
        const auto* edit = Find<QLineEdit>(dialog, name);
        return edit ? edit->text() : QString();
    };
    SystemStats stats;
    ASSERT_TRUE(stats.queryDisk(database.toStdString())) << stats.diskError();

    const auto freeMatch = QRegularExpression(QStringLiteral("^(\\d+) MB$")).match(field("diskFreeEdit"));
    ASSERT_TRUE(freeMatch.hasMatch()) << field("diskFreeEdit").toStdString();
    // Others may write to the disk meanwhile.
    EXPECT_NEAR(freeMatch.captured(1).toDouble(), double(stats.diskFreeBytes() / 1048576), 64.0);
    for (const char* name : {"availPhysicalEdit", "availVirtualEdit", "availPageFileEdit"})
        EXPECT_TRUE(field(name).contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d Mb$"))))
            << name << ": " << field(name).toStdString();
    // The totals do not change while the test runs: each shows its own figure.
    const std::pair<const char*, std::string> totals[] = {
        {"diskTotalEdit", SystemStats::DiskMegabytesText(stats.diskTotalBytes())},
        {"totalPageFileEdit", SystemStats::MemoryMegabytesText(stats.totalPageFile())},
        {"totalPhysicalEdit", SystemStats::MemoryMegabytesText(stats.totalPhysical())},
        {"totalVirtualEdit", SystemStats::MemoryMegabytesText(stats.totalVirtual())}};
    for (const auto& [name, text] : totals)
        EXPECT_EQ(field(name).toStdString(), text) << name;

    auto* close = Find<QPushButton>(dialog, "closeButton");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->text(), QStringLiteral("CLOSE"));
    close->click();
    EXPECT_FALSE(dialog.isVisible());
}

} // namespace
} // namespace qm::test
