#pragma once

#include <cstdint>
#include <string>

namespace qm {

// Disk and memory figures of the machine, for the status bar's disk text and
// the About box. Filled when constructed; the two queries refresh them.
//
// Meanings on Linux:
// - disk: the file system that holds the given path (the results database),
//   named by its mount point;
// - physical memory: MemTotal and MemAvailable of /proc/meminfo;
// - page file: swap (SwapTotal, SwapFree);
// - virtual memory: this process's user address space (its RLIMIT_AS, or the
//   size the kernel gives user space) and the part of it not yet mapped
//   (total less VmSize of /proc/self/status).
class SystemStats
{
public:
    // Queries the file system of the current directory and the memory.
    SystemStats();
    virtual ~SystemStats() = default;

    // Fills the disk figures for the file system holding `path` (a file or a
    // folder; a path that does not exist yet is looked up by its nearest
    // existing parent). Returns false, leaving the figures at zero and
    // diskError() set, when no file system could be queried.
    bool queryDisk(const std::string& path);
    // Fills the six memory figures; false when /proc/meminfo cannot be read.
    bool queryMemory();

    uint64_t diskFreeBytes() const { return m_diskFree; }
    uint64_t diskTotalBytes() const { return m_diskTotal; }
    const std::string& mountPoint() const { return m_mountPoint; }
    const std::string& diskError() const { return m_diskError; }

    uint64_t availableVirtual() const { return m_availVirtual; }
    uint64_t totalVirtual() const { return m_totalVirtual; }
    uint64_t availablePageFile() const { return m_availPageFile; }
    uint64_t totalPageFile() const { return m_totalPageFile; }
    uint64_t availablePhysical() const { return m_availPhysical; }
    uint64_t totalPhysical() const { return m_totalPhysical; }

    // "HD FreeSpace %llu MB on %s": whole mebibytes free and the mount point.
    std::string diskFreeText() const;

    // Whole mebibytes, remainder dropped: "%llu MB".
    static std::string DiskMegabytesText(uint64_t bytes);
    // Mebibytes with two decimals: "%.2f Mb".
    static std::string MemoryMegabytesText(uint64_t bytes);

    // The mount point in a /proc/self/mountinfo text that holds `canonicalPath`
    // (the longest matching mount point; a later mount over the same point
    // wins). Empty when none matches.
    static std::string MountPointFor(const std::string& mountInfo,
                                     const std::string& canonicalPath);

private:
    uint64_t m_diskFree = 0;
    uint64_t m_diskTotal = 0;
    std::string m_mountPoint;
    std::string m_diskError;
    uint64_t m_availVirtual = 0;
    uint64_t m_totalVirtual = 0;
    uint64_t m_availPageFile = 0;
    uint64_t m_totalPageFile = 0;
    uint64_t m_availPhysical = 0;
    uint64_t m_totalPhysical = 0;
};

} // namespace qm
