#include "notify/PagerDialer.h"

#include "platform/Clock.h"

#include <chrono>

Q_LOGGING_CATEGORY(lcPager, "quillmere.pager")

namespace qm {

namespace {
using SteadyClock = std::chrono::steady_clock;

// Returned when the dial command cannot even be written to the modem.
constexpr long kOperationFailed = static_cast<int32_t>(0x80000048u);
} // namespace

PagerDialer::PagerDialer(PagerTimings timings) : m_timings(timings) {}

PagerDialer::~PagerDialer()
{
    // Closing the line drops DTR, which ends a call the caller did not hang up.
    m_line.close();
}

void PagerDialer::Attach(const QString& modemDevice)
{
    if (modemDevice != m_device)
        m_line.close();
    m_device = modemDevice;
}

long PagerDialer::Dial(const QString& sequence)
{
    if (sequence.isEmpty())
        return -1;
    if (!m_initialised) {
        if (m_device.isEmpty()) {
            setStatus("Tapi error...");
            return kOperationUnavailable;
        }
        m_initialised = true;
        setStatus("Tapi initialized...");
    }
    if (!m_line.isOpen()) {
        std::string why;
        if (!m_line.open(m_device.toStdString(), &why)) {
            qCWarning(lcPager).noquote()
                << "cannot open the modem line:" << QString::fromStdString(why);
            return -1;
        }
        if (!m_line.reset(m_timings.resetTimeoutMs)) {
            qCWarning(lcPager).noquote() << "the modem on" << m_device << "does not answer";
            m_line.close();
            return -1;
        }
    }
    const auto requested = SteadyClock::now();
    if (!m_line.dial(sequence.toStdString())) {
        m_lastResult = kOperationFailed;
        return kOperationFailed;
    }
    m_call = ++m_lastRequest;
    m_online = false;
    const long request = m_call;
    // The request's own progress is told before any modem reply is handled.
    ++m_pumpDepth;
    setStatus("Line Reply...");
    OnCallState(CallDialing, 0);
    --m_pumpDepth;
    pump(MsUntil(requested + std::chrono::milliseconds(m_timings.callSetupMs)));
    return request;
}

long PagerDialer::HangUp()
{
    setStatus("Stopping Call in progress...");
    const bool online = m_online;
    m_online = false;
    if (m_call != 0) {
        m_line.dropCall(online);
        setStatus("Call Dropped...");
        m_call = 0;
    }
    setStatus("Call deallocated...");
    if (m_line.isOpen()) {
        m_line.close();
        setStatus("Line Closed...");
    }
    setStatus("Call stopped...");
    m_lastResult = 0;
    return m_lastResult;
}

void PagerDialer::OnModemReply(const ModemLine::Event& event)
{
    using Reply = ModemLine::Reply;
    switch (event.reply) {
    case Reply::Connect:
        OnCallState(CallConnected, 0);
        break;
    case Reply::Busy:
        OnCallState(CallBusy, 0);
        break;
    case Reply::NoDialTone:
        OnCallState(CallDisconnected, DisconnectNoDialTone);
        break;
    case Reply::NoAnswer:
        OnCallState(CallDisconnected, DisconnectNoAnswer);
        break;
    case Reply::NoCarrier:
        OnCallState(CallDisconnected, m_online ? DisconnectNormal : DisconnectNoAnswer);
        break;
    case Reply::Error:
        OnCallState(CallDisconnected, DisconnectBadAddress);
        break;
    case Reply::Ring:
        setStatus("LINEDEVSTATE_RINGING...");
        break;
    case Reply::Closed:
        m_line.close();
        setStatus("LINE_CLOSED...");
        break;
    case Reply::Ok:
    case Reply::Other:
        break;
    }
}

void PagerDialer::OnCallState(int state, int mode)
{
    if (m_call == 0) {
        setStatus("LINE_CALLSTATE: Unknown device ID ...");
        return;
    }
    switch (state) {
    case CallIdle:
        setStatus("Line is idle...");
        HangUp();
        break;
    case CallOffering:
        setStatus("LINECALLSTATE_OFFERING...");
        break;
    case CallDialTone:
        setStatus("Dial Tone...");
        break;
    case CallDialing:
        setStatus("Dialing...");
        break;
    case CallBusy:
        setStatus("Line busy, shutting down...");
        HangUp();
        break;
    case CallSpecialInfo:
        setStatus("Special Info, probably couldn't dial number...");
        HangUp();
        break;
    case CallConnected:
        setStatus("Hey I am connected!");
        m_online = true;
        break;
    case CallDisconnected:
        setStatus(DisconnectText(mode));
        HangUp();
        break;
    default:
        break;
    }
}

const char* PagerDialer::DisconnectText(int mode)
{
    switch (mode) {
    case DisconnectNormal:
        return "Remote Party Disconnected";
    case DisconnectUnknown:
        return "Disconnected: Unknown reason";
    case DisconnectReject:
        return "Remote Party rejected call";
    case DisconnectPickup:
        return "Disconnected: Local phone picked up";
    case DisconnectForwarded:
        return "Disconnected: Forwarded";
    case DisconnectBusy:
        return "Disconnected: Busy";
    case DisconnectNoAnswer:
        return "Disconnected: No Answer";
    case DisconnectBadAddress:
        return "Disconnected: Bad Address";
    case DisconnectUnreachable:
        return "Disconnected: Unreachable";
    case DisconnectCongestion:
        return "Disconnected: Congestion";
    case DisconnectIncompatible:
        return "Disconnected: Incompatible";
    case DisconnectUnavail:
        return "Disconnected: Unavail";
    case DisconnectNoDialTone:
        return "Disconnected: No Dial Tone";
    default:
        return "Disconnected: LINECALLSTATE; Bad Reason";
    }
}

void PagerDialer::setStatus(const char* text)
{
    m_lastStatus = QString::fromLatin1(text);
    qCDebug(lcPager).noquote() << m_lastStatus;
    if (m_pumpDepth == 0)
        pump(m_timings.statusSettleMs);
}

void PagerDialer::pump(int ms)
{
    if (!m_line.isOpen() || ms <= 0)
        return;
    ++m_pumpDepth;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(ms);
    while (m_line.isOpen()) {
        const int left = MsUntil(deadline);
        if (left <= 0)
            break;
        if (const auto event = m_line.nextEvent(left))
            OnModemReply(*event);
    }
    --m_pumpDepth;
}

} // namespace qm
