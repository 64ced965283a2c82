#pragma once

#include "probes/ResultSink.h"

#include <cstdint>
#include <memory>

namespace qm {

class HostSession;

// Thread status codes carried by the status event.
enum ThreadStatus : int {
    StatusStopping = 0,
    StatusStopped = 1,
    StatusSleeping = 2,
    StatusWorking = 4,
};

// Everything a worker or listener thread tells the main thread. Deliveries are
// asynchronous and keep each sender's order.
class EngineEvents : public ResultSink
{
public:
    virtual void postStatus(uint32_t threadId, int code) = 0;
    virtual void postThreadEnded(uint32_t threadId, std::unique_ptr<HostSession> session) = 0;
    virtual void postSyslog(uint32_t threadId, std::unique_ptr<ProbeResult> record) = 0;
};

} // namespace qm
