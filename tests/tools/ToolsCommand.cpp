#include "ToolsCommand.h"

#include <cstdio>
#include <sys/wait.h>

namespace qm::test {

CommandResult RunCommand(const std::string& command, int limitSeconds)
{
    CommandResult result;
    const std::string line = "timeout -k 5 " + std::to_string(limitSeconds) + " sh -c '" + command + "' 2>&1";
    FILE* pipe = ::popen(line.c_str(), "r");
    if (!pipe)
        return result;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), pipe)) > 0)
        result.output.append(buf, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace qm::test
