#pragma once

#include <string>

namespace qm::test {

// A fresh directory under /tmp that everyone may read (servers that drop to an
// unprivileged user must reach their files); removed with its contents when
// destroyed. path() is empty when it could not be made.
class ScratchDir
{
public:
    explicit ScratchDir(const std::string& prefix = "qm-test");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return m_path; }
    // The path of a file or directory inside.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

} // namespace qm::test
