#pragma once

#include "support/ScriptedServer.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace qm::test {

// A UDP server on 127.0.0.1 that answers each datagram with what its script
// returns (nothing for std::nullopt) and records every request.
class UdpScriptedServer
{
public:
    using Script = std::function<std::optional<std::string>(const std::string& request)>;

    explicit UdpScriptedServer(Script script);

    int port() const { return m_port; }
    std::vector<std::string> requests() const;

private:
    void answer(int fd);

    Script m_script;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::optional<PollThread> m_poll;
};

} // namespace qm::test
