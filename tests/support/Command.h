#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace qm::test {

struct CommandResult
{
    int status = -1;    // exit status, -1 when it did not exit normally
    std::string output; // standard output and error together
};

// Runs a shell command line, at most `limitSeconds` long.
inline CommandResult RunCommand(const std::string& command, int limitSeconds = 120)
{
    CommandResult result;
    const std::string line = "timeout -k 5 " + std::to_string(limitSeconds) + " sh -c '" + command + "' 2>&1";
    FILE* pipe = ::popen(line.c_str(), "r");
    if (!pipe)
        return result;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof(buf), pipe)) > 0;)
        result.output.append(buf, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace qm::test
