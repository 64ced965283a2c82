#include "support/CachedPackage.h"

#include "support/Command.h"

#include <filesystem>

namespace qm::test {

std::string UnpackCachedPackage(const std::string& package, const std::string& dir)
{
    // Any version will do; the newest name sorts last.
    std::string deb;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(kTestPackageCache, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(package + "_") && name.ends_with(".deb") && entry.path().string() > deb)
            deb = entry.path().string();
    }
    if (deb.empty())
        return "no " + package + " package in " + kTestPackageCache +
               ": run scripts/install-deps.sh, which downloads it";
    const CommandResult unpacked = RunCommand("dpkg-deb -x " + deb + " " + dir, 60);
    if (unpacked.status != 0)
        return "dpkg-deb -x " + deb + " failed: " + unpacked.output;
    return {};
}

} // namespace qm::test
