#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

// A UDP server on 127.0.0.1 that answers each datagram with what its script
// returns (nothing for std::nullopt) and records every request.
class UdpScriptedServer
{
public:
    using Script = std::function<std::optional<std::string>(const std::string& request)>;

    explicit UdpScriptedServer(Script script);
    ~UdpScriptedServer();
    UdpScriptedServer(const UdpScriptedServer&) = delete;
    UdpScriptedServer& operator=(const UdpScriptedServer&) = delete;

    int port() const { return m_port; }
    std::vector<std::string> requests() const;

private:
    void run();

    Script m_script;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

} // namespace qm::test
