#pragma once

#include <memory>
#include <string>

namespace qm {

class CancelToken;
class EngineEvents;
class HostSession;
class OperatorPrompt;

// The worker of one polled host: probe, report, sleep the host's interval on
// the wake event (shared by a group of workers; signalled after Stop), until a
// stop is requested. Owns the session until it posts the thread-ended event,
// which hands the session back to the main thread.
void PollThreadProc(std::unique_ptr<HostSession> session, const CancelToken& wake,
                    std::shared_ptr<EngineEvents> events, std::string dnsQueryName, OperatorPrompt* prompt = nullptr,
                    int certWarnDays = 0);

} // namespace qm
