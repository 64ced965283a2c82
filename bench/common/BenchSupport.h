#pragma once

#include <atomic>
#include <thread>

namespace qm::bench {

// Resident set size of this process in KiB.
long RssKiB();

// Answers every connection on 127.0.0.1 with an HTTP status line and closes
// it; runs until destroyed.
class LoopbackHttpServer
{
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    int port() const { return m_port; }

private:
    void run();
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace qm::bench
