#include "platform/KeyboardLeds.h"

#include <filesystem>
#include <fstream>

namespace qm {

KeyboardLeds::KeyboardLeds(std::string root) : m_root(std::move(root)) {}

std::optional<bool> KeyboardLeds::state(Lock lock) const
{
    static const char* const kSuffix[] = {"::capslock", "::numlock", "::scrolllock"};
    const std::string suffix = kSuffix[lock];
    std::optional<bool> result;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_root, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        std::ifstream in(entry.path() / "brightness");
        int brightness = 0;
        if (!(in >> brightness))
            continue;
        result = result.value_or(false) || brightness > 0;
    }
    return result;
}

} // namespace qm
