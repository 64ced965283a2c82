#include "engine/SyslogThread.h"

#include "engine/EngineEvents.h"
#include "engine/HostSession.h"
#include "platform/ThreadId.h"
#include "tools/SyslogReceiver.h"

namespace qm {

void RunSyslogListener(HostSession& session, EngineEvents& events, OperatorPrompt& prompt)
{
    const uint32_t self = CurrentThreadId();
    SyslogReceiver receiver(events, prompt, session.port());
    while (!session.stopRequested())
        receiver.cycle([&](std::unique_ptr<ProbeResult> record) { events.postSyslog(self, std::move(record)); });
    receiver.close();
}

} // namespace qm
