#include "tools/SyslogReceiver.h"

#include "platform/OperatorPrompt.h"
#include "platform/SocketErrors.h"
#include "platform/ThreadId.h"
#include "probes/MessageTemplate.h"
#include "probes/ResultSink.h"
#include "probes/SocketErrorText.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace qm {

namespace {

// The syslog port of the services database, 0 when it has none.
int ServicePort()
{
    servent entry{};
    servent* found = nullptr;
    char buffer[1024];
    if (::getservbyname_r("syslog", "udp", &entry, buffer, sizeof(buffer), &found) != 0 || !found)
        return 0;
    return ntohs(static_cast<uint16_t>(found->s_port));
}

} // namespace

SyslogReceiver::SyslogReceiver(ResultSink& sink, OperatorPrompt& prompt, int port)
    : m_sink(sink), m_prompt(prompt), m_entryPort(port), m_buffer(new char[kSyslogDatagramSize + 1])
{
}

SyslogReceiver::~SyslogReceiver()
{
    close();
}

void SyslogReceiver::close()
{
    if (m_socket.valid())
        ::shutdown(m_socket.get(), SHUT_RD);
    m_socket.reset();
    m_listening = false;
}

void SyslogReceiver::pause() const
{
    std::this_thread::sleep_for(std::chrono::milliseconds(kSyslogRetryPauseMs));
}

bool SyslogReceiver::open()
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int socketError = fd.valid() ? 0 : LastSocketError();
    const int port = m_entryPort > 0 ? m_entryPort : ServicePort();
    if (port == 0) {
        if (!m_toldMissingService)
            m_prompt.inform(OperatorPrompt::Icon::Warning,
                            "could not find service syslog/udp, network logging disabled");
        m_toldMissingService = true;
        return false;
    }

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool inRange = port <= 65535;
    if (!fd.valid() || !inRange
        || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        const int error = !fd.valid() ? socketError : !inRange ? int(WsaEInval) : LastSocketError();
        if (error != m_toldBindError) {
            auto result = std::make_unique<ProbeResult>();
            result->message = FormatTemplate("Syslog listener cannot bind UDP port %1!d!: %2!s!",
                                             {std::to_string(port), SocketErrorText(error)});
            m_sink.reportFailure(CurrentThreadId(), std::move(result));
        }
        m_toldBindError = error;
        return false;
    }
    m_socket = std::move(fd);
    m_port = port;
    m_listening = true;
    m_toldMissingService = false;
    m_toldBindError = 0;
    return true;
}

void SyslogReceiver::cycle(const PostRecord& postRecord)
{
    if (!m_listening && !open()) {
        pause();
        return;
    }
    pollfd p{m_socket.get(), POLLIN, 0};
    const timespec wait{0, kSyslogWaitMicroseconds * 1000};
    const int ready = ::ppoll(&p, 1, &wait, nullptr);
    if (ready < 0) {
        if (errno == EINTR)
            return;
        auto result = std::make_unique<ProbeResult>();
        result->message = FormatTemplate("Syslog listener wait failed: %1!s!", {SocketErrorText(LastSocketError())});
        m_sink.reportFailure(CurrentThreadId(), std::move(result));
        close();
        return;
    }
    if (ready == 0)
        return;

    sockaddr_in sender{};
    socklen_t senderLength = sizeof(sender);
    const ssize_t n = ::recvfrom(m_socket.get(), m_buffer.get(), kSyslogDatagramSize, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (n < 0)
        return;
    m_buffer[n] = 0;
    // The text ends at its first zero byte, as a C string would.
    const std::string_view text(m_buffer.get(), ::strnlen(m_buffer.get(), static_cast<std::size_t>(n)));
    char from[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &sender.sin_addr, from, sizeof(from));

    auto record = std::make_unique<ProbeResult>();
    ParseSyslogDatagram(text, from, *record);
    if (postRecord)
        postRecord(std::move(record));
}

} // namespace qm
