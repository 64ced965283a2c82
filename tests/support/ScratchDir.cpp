#include "support/ScratchDir.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <vector>

namespace qm::test {

ScratchDir::ScratchDir(const std::string& prefix)
{
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr)
        return;
    m_path = name.data();
    ::chmod(m_path.c_str(), 0755);
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ignored);
}

} // namespace qm::test
