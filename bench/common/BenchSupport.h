#pragma once

#include <atomic>
#include <thread>

namespace qm::bench {

// Resident set size of this process in KiB, now and at its peak.
long RssKiB();
long PeakRssKiB();
// CPU time the calling thread has used, in milliseconds.
double ThreadCpuMs();
// The calling thread's time spent runnable but waiting for a CPU, in ms.
double ThreadRunQueueMs();

// Answers every connection on 127.0.0.1 with an HTTP status line and closes
// it; runs until destroyed.
class LoopbackHttpServer
{
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    int port() const { return m_port; }
    // Connections answered so far.
    long answered() const { return m_answered.load(); }

private:
    void run();
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_answered{0};
    std::thread m_thread;
};

} // namespace qm::bench
