#include "engine/PollThread.h"

#include "engine/EngineEventQueue.h"
#include "engine/HostSession.h"
#include "engine/ProbeDispatch.h"
#include "platform/CancelToken.h"
#include "platform/ThreadId.h"
#include "probes/ProbeSocket.h"

namespace qm {

namespace {
constexpr int64_t kIdleCycleMs = 1000;
}

void PollThreadProc(std::unique_ptr<HostSession> session, const CancelToken& wake,
                    std::shared_ptr<EngineEvents> events, std::string dnsQueryName, OperatorPrompt* prompt,
                    int certWarnDays)
{
    const uint32_t self = CurrentThreadId();
    const std::shared_ptr<const CancelToken> stop = session->cancelToken();
    const EngineEventQueue::WorkerScope scope(stop.get());
    {
        ProbeSocket probe(*events);
        probe.setCancelToken(session->cancelToken());
        PollArgs args;
        args.address = session->address();
        const std::string protocol = session->protocol();
        args.port = session->port();
        (void)session->frequency(); // read once at start like the other settings; re-read before each sleep
        args.userId = session->userId();
        args.password = session->password();
        args.domain = session->domain();
        args.dnsQueryName = std::move(dnsQueryName);
        args.prompt = prompt;
        args.certWarnDays = certWarnDays;
        // The flag is not cleared here: the session starts with it clear, and
        // clearing it again would lose a Stop that came before this thread ran.

        while (!session->stopRequested()) {
            events->postStatus(self, StatusWorking);
            const bool probed = RunProbe(probe, protocol, args);
            events->postStatus(self, StatusSleeping);
            const int frequency = session->frequency();
            if (session->stopRequested())
                break; // the wait a stop would cut short at once
            if (frequency > 0)
                wake.waitFor(int64_t{frequency} * 1000);
            else if (!probed)
                // Nothing to probe and no interval: pace the idle cycle instead
                // of flooding the main thread with status events.
                wake.waitFor(kIdleCycleMs);
        }
    }
    events->postStatus(self, StatusStopping);
    events->postThreadEnded(self, std::move(session));
}

} // namespace qm
