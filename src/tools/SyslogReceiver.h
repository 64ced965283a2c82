#pragma once

#include "probes/ProbeResult.h"
#include "tools/SyslogNaming.h"
#include "tools/UniqueFd.h"

#include <functional>
#include <memory>
#include <string>

namespace qm {

class OperatorPrompt;
class ResultSink;

// Largest datagram taken, and the wait of one listening cycle.
inline constexpr std::size_t kSyslogDatagramSize = 65536;
inline constexpr long kSyslogWaitMicroseconds = 500;
// Pause of a cycle that could not open the listener, so that retrying does
// not spin.
inline constexpr int kSyslogRetryPauseMs = 100;

// The socket side of the syslog listener: a UDP socket bound to the entry's
// port on every local address, read one datagram per cycle. Runs on the
// syslog thread only.
class SyslogReceiver
{
public:
    using PostRecord = std::function<void(std::unique_ptr<ProbeResult>)>;

    // Listens on `port`; 0 takes the port of the "syslog"/"udp" service
    // (514), and the operator hears through prompt when there is none.
    // Listener failures are reported through sink.
    SyslogReceiver(ResultSink& sink, OperatorPrompt& prompt, int port = 0);
    ~SyslogReceiver();
    SyslogReceiver(const SyslogReceiver&) = delete;
    SyslogReceiver& operator=(const SyslogReceiver&) = delete;

    // One listening cycle: opens the listener when it is not listening, waits
    // 500 microseconds for a datagram, and hands a parsed record of one
    // arrived datagram to postRecord.
    void cycle(const PostRecord& postRecord);
    // Stops listening; the next cycle opens the listener again.
    void close();

    bool listening() const { return m_listening; }
    // The port bound, 0 when not listening.
    int port() const { return m_listening ? m_port : 0; }

private:
    bool open();
    void pause() const;

    ResultSink& m_sink;
    OperatorPrompt& m_prompt;
    const int m_entryPort;
    UniqueFd m_socket;
    bool m_listening = false;
    int m_port = 0;
    // Each trouble is told once until the listener works again.
    bool m_toldMissingService = false;
    int m_toldBindError = 0;
    std::unique_ptr<char[]> m_buffer;
};

} // namespace qm
