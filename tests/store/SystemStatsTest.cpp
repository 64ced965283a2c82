// Disk and memory figures.

#include "platform/SystemStats.h"

#include <gtest/gtest.h>

namespace qm::test {
namespace {

constexpr const char* kMountInfo = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                                   "30 22 8:2 / /home rw,relatime shared:2 - ext4 /dev/sda2 rw\n"
                                   "31 30 8:3 / /home/user\\040data rw - ext4 /dev/sda3 rw\n"
                                   "40 22 0:50 / /mnt rw - tmpfs tmpfs rw\n"
                                   "41 40 0:51 / /mnt rw - tmpfs tmpfs rw\n";

TEST(SystemStatsTest, MountPointIsTheLongestMatchingMount)
{
    EXPECT_EQ(SystemStats::MountPointFor(kMountInfo, "/var/lib/x.mdb"), "/");
    EXPECT_EQ(SystemStats::MountPointFor(kMountInfo, "/home/ann/q.mdb"), "/home");
    EXPECT_EQ(SystemStats::MountPointFor(kMountInfo, "/home"), "/home");
    EXPECT_EQ(SystemStats::MountPointFor(kMountInfo, "/homeless/q.mdb"), "/");
    EXPECT_EQ(SystemStats::MountPointFor(kMountInfo, "/home/user data/q.mdb"), "/home/user data");
    EXPECT_EQ(SystemStats::MountPointFor(kMountInfo, "/mnt/q.mdb"), "/mnt");
    EXPECT_EQ(SystemStats::MountPointFor("", "/x"), "");
}

TEST(SystemStatsTest, FiguresAreFormattedInMebibytes)
{
    EXPECT_EQ(SystemStats::DiskMegabytesText(1048576), "1 MB");
    EXPECT_EQ(SystemStats::DiskMegabytesText(1048575), "0 MB");
    EXPECT_EQ(SystemStats::DiskMegabytesText(5ULL << 40), "5242880 MB");
    EXPECT_EQ(SystemStats::MemoryMegabytesText(1572864), "1.50 Mb");
    EXPECT_EQ(SystemStats::MemoryMegabytesText(17179869184ULL + 5242), "16384.00 Mb");
    EXPECT_EQ(SystemStats::MemoryMegabytesText(17179869184ULL + 5243), "16384.01 Mb");
}

TEST(SystemStatsTest, QueriesGiveConsistentFigures)
{
    SystemStats stats;
    EXPECT_TRUE(stats.queryMemory());
    EXPECT_GT(stats.totalPhysical(), 0u);
    EXPECT_LE(stats.availablePhysical(), stats.totalPhysical());
    EXPECT_LE(stats.availablePageFile(), stats.totalPageFile());
    EXPECT_GT(stats.totalVirtual(), stats.totalPhysical() / 1024);
    EXPECT_LT(stats.availableVirtual(), stats.totalVirtual());

    // A file that does not exist yet is looked up by its folder.
    ASSERT_TRUE(stats.queryDisk("/tmp/no-such-folder/Quillmere.mdb")) << stats.diskError();
    EXPECT_GT(stats.diskTotalBytes(), 0u);
    EXPECT_LE(stats.diskFreeBytes(), stats.diskTotalBytes());
    EXPECT_FALSE(stats.mountPoint().empty());
    EXPECT_EQ(stats.diskFreeText().rfind("HD FreeSpace ", 0), 0u);
}

} // namespace
} // namespace qm::test
