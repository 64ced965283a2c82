#pragma once

#include <string>

namespace qm::test {

// Debian packages that cannot be installed beside the suite's others (they
// conflict with one of them) are downloaded here by scripts/install-deps.sh.
inline constexpr const char* kTestPackageCache = "/var/cache/quillmere-test-debs";

// Unpacks the cached .deb of the package into dir with dpkg-deb -x. Empty on
// success; otherwise why not, saying what to run.
std::string UnpackCachedPackage(const std::string& package, const std::string& dir);

} // namespace qm::test
