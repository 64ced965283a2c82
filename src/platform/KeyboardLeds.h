#pragma once

#include <optional>
#include <string>

namespace qm {

// The Caps Lock, Num Lock and Scroll Lock lights as the kernel shows them
// under /sys/class/leds (one "inputN::capslock" entry per keyboard). A lock is
// on when any keyboard's light is on; a machine without such entries (a remote
// display, a container) cannot tell, and the lights are unknown.
class KeyboardLeds
{
public:
    enum Lock { Caps, Num, Scroll };

    explicit KeyboardLeds(std::string root = "/sys/class/leds");

    // Whether the lock is on; nothing when no keyboard shows that light.
    std::optional<bool> state(Lock lock) const;

private:
    std::string m_root;
};

} // namespace qm
