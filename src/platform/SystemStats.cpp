#include "platform/SystemStats.h"

#include <sys/resource.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace qm {

namespace {

constexpr uint64_t kMebibyte = 1048576;

std::string ReadWholeFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Mount points in mountinfo escape blanks, tabs, new lines and backslashes as
// three octal digits ("\040").
std::string DecodeMountField(const std::string& field)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool PathIsUnder(const std::string& path, const std::string& mount)
{
    if (mount == "/")
        return !path.empty() && path[0] == '/';
    return path == mount ||
           (path.size() > mount.size() && path.compare(0, mount.size(), mount) == 0 &&
            path[mount.size()] == '/');
}

// Value of a "Name:   1234 kB" line, in bytes; false when absent.
bool KilobyteField(const std::string& text, const char* name, uint64_t& bytes)
{
    const std::string key = std::string(name) + ":";
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0)
            continue;
        unsigned long long kb = 0;
        if (std::sscanf(line.c_str() + key.size(), " %llu", &kb) != 1)
            return false;
        bytes = static_cast<uint64_t>(kb) * 1024;
        return true;
    }
    return false;
}

// The size of the user address space: one past the highest user mapping,
// rounded up to a power of two (2^47 on x86-64, 2^48 or 2^39 on arm64).
uint64_t UserAddressSpace()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    uint64_t highest = 0;
    while (std::getline(maps, line)) {
        unsigned long long start = 0, end = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx", &start, &end) != 2)
            continue;
        if (line.find("[vsyscall]") != std::string::npos || end > (1ULL << 62))
            continue;
        if (end > highest)
            highest = end;
    }
    if (highest == 0)
        return 0;
    uint64_t size = 1;
    while (size < highest && size < (1ULL << 62))
        size <<= 1;
    return size;
}

} // namespace

SystemStats::SystemStats()
{
    queryDisk(".");
    queryMemory();
}

std::string SystemStats::MountPointFor(const std::string& mountInfo,
                                       const std::string& canonicalPath)
{
    std::istringstream in(mountInfo);
    std::string line;
    std::string best;
    bool found = false;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mount;
        if (!(fields >> id >> parent >> device >> root >> mount))
            continue;
        mount = DecodeMountField(mount);
        if (!PathIsUnder(canonicalPath, mount))
            continue;
        // Longer wins; equal length means a later mount over the same point.
        if (!found || mount.size() >= best.size()) {
            best = mount;
            found = true;
        }
    }
    return best;
}

bool SystemStats::queryDisk(const std::string& path)
{
    namespace fs = std::filesystem;
    m_diskFree = m_diskTotal = 0;
    m_mountPoint.clear();
    m_diskError.clear();

    std::error_code ec;
    fs::path p = fs::absolute(path.empty() ? fs::path(".") : fs::path(path), ec);
    if (ec) {
        m_diskError = "cannot resolve " + path + ": " + ec.message();
        return false;
    }
    // The database file may not exist yet: use the nearest existing parent.
    while (!fs::exists(p, ec) && p.has_parent_path() && p.parent_path() != p)
        p = p.parent_path();
    const fs::path canonical = fs::canonical(p, ec);
    if (ec) {
        m_diskError = "cannot resolve " + p.string() + ": " + ec.message();
        return false;
    }

    struct statvfs vfs
    {
    };
    if (::statvfs(canonical.c_str(), &vfs) != 0) {
        m_diskError =
            "cannot query the file system of " + canonical.string() + ": " + std::strerror(errno);
        return false;
    }
    const uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    // All free blocks, including those kept for the superuser: the total free
    // space of the file system.
    m_diskFree = static_cast<uint64_t>(vfs.f_bfree) * unit;
    m_diskTotal = static_cast<uint64_t>(vfs.f_blocks) * unit;

    m_mountPoint = MountPointFor(ReadWholeFile("/proc/self/mountinfo"), canonical.string());
    if (m_mountPoint.empty())
        m_mountPoint = canonical.root_path().string();
    return true;
}

bool SystemStats::queryMemory()
{
    m_availVirtual = m_totalVirtual = m_availPageFile = m_totalPageFile = 0;
    m_availPhysical = m_totalPhysical = 0;

    const std::string meminfo = ReadWholeFile("/proc/meminfo");
    if (meminfo.empty())
        return false;
    KilobyteField(meminfo, "MemTotal", m_totalPhysical);
    if (!KilobyteField(meminfo, "MemAvailable", m_availPhysical)) {
        uint64_t free = 0, buffers = 0, cached = 0;
        KilobyteField(meminfo, "MemFree", free);
        KilobyteField(meminfo, "Buffers", buffers);
        KilobyteField(meminfo, "Cached", cached);
        m_availPhysical = free + buffers + cached;
    }
    KilobyteField(meminfo, "SwapTotal", m_totalPageFile);
    KilobyteField(meminfo, "SwapFree", m_availPageFile);

    struct rlimit limit
    {
    };
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        m_totalVirtual = static_cast<uint64_t>(limit.rlim_cur);
    else
        m_totalVirtual = UserAddressSpace();
    uint64_t mapped = 0;
    KilobyteField(ReadWholeFile("/proc/self/status"), "VmSize", mapped);
    m_availVirtual = m_totalVirtual > mapped ? m_totalVirtual - mapped : 0;
    return true;
}

std::string SystemStats::diskFreeText() const
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%" PRIu64, m_diskFree / kMebibyte);
    return "HD FreeSpace " + std::string(buffer) + " MB on " + m_mountPoint;
}

std::string SystemStats::DiskMegabytesText(uint64_t bytes)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%" PRIu64 " MB", bytes / kMebibyte);
    return buffer;
}

std::string SystemStats::MemoryMegabytesText(uint64_t bytes)
{
    // Double keeps every byte count below 2^53 exact, so the two decimals are
    // right for any real memory size.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f Mb",
                  static_cast<double>(bytes) / static_cast<double>(kMebibyte));
    return buffer;
}

} // namespace qm
