#pragma once

#include "probes/ProbeResult.h"

#include <cstdint>
#include <memory>

namespace qm {

// Where probes hand their reports. Implementations deliver them to the main
// thread without waiting, keeping each sending thread's order.
class ResultSink
{
public:
    virtual ~ResultSink() = default;
    virtual void reportSuccess(uint32_t threadId, std::unique_ptr<ProbeResult> result) = 0;
    virtual void reportFailure(uint32_t threadId, std::unique_ptr<ProbeResult> result) = 0;
};

// Drops every report: for callers that want what a probe returns (an
// address, a hop) but not the events it reports on the way.
class DiscardingSink final : public ResultSink
{
public:
    void reportSuccess(uint32_t, std::unique_ptr<ProbeResult>) override {}
    void reportFailure(uint32_t, std::unique_ptr<ProbeResult>) override {}
};

} // namespace qm
