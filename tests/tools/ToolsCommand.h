#pragma once

#include <string>

namespace qm::test {

struct CommandResult
{
    int status = -1;    // exit status, -1 when it did not exit normally
    std::string output; // standard output and error together
};

// Runs a shell command line, at most `limitSeconds` long.
CommandResult RunCommand(const std::string& command, int limitSeconds = 120);

} // namespace qm::test
