#pragma once

namespace qm {

class EngineEvents;
class HostSession;
class OperatorPrompt;

// The syslog listener thread's body: listening cycles on the session's port
// (0: the syslog service's) until the session's stop flag is set; every
// received record goes to the main thread as a syslog event.
void RunSyslogListener(HostSession& session, EngineEvents& events, OperatorPrompt& prompt);

} // namespace qm
