#pragma once

#include "platform/ModemLine.h"

#include <QLoggingCategory>
#include <QString>

#include <cstdint>

Q_DECLARE_LOGGING_CATEGORY(lcPager)

namespace qm {

// How long the dialer lets things happen. The defaults are the real ones;
// tests shorten them.
struct PagerTimings
{
    int callSetupMs = 5000;   // Dial returns this long after the call was requested
    int statusSettleMs = 400; // modem replies are handled this long after each status
    int resetTimeoutMs = 3000;
};

// Places one data call to a pager sequence through the modem, holds it while
// the caller waits, and hangs up. Nothing is received or tested: every outcome
// shows only as a status text on the debug output (category "quillmere.pager").
// Modem replies are read only inside Dial and HangUp, on the calling thread,
// so nothing can reach a dialer after it is gone.
class PagerDialer
{
public:
    // Call states and disconnect modes, numbered as telephony APIs number them.
    enum CallState
    {
        CallIdle = 1,
        CallOffering = 2,
        CallAccepted = 4,
        CallDialTone = 8,
        CallDialing = 16,
        CallBusy = 64,
        CallSpecialInfo = 128,
        CallConnected = 256,
        CallProceeding = 512,
        CallDisconnected = 16384,
    };
    enum DisconnectMode
    {
        DisconnectNormal = 1,
        DisconnectUnknown = 2,
        DisconnectReject = 4,
        DisconnectPickup = 8,
        DisconnectForwarded = 16,
        DisconnectBusy = 32,
        DisconnectNoAnswer = 64,
        DisconnectBadAddress = 128,
        DisconnectUnreachable = 256,
        DisconnectCongestion = 512,
        DisconnectIncompatible = 1024,
        DisconnectUnavail = 2048,
        DisconnectNoDialTone = 4096,
    };
    // Returned when the telephony layer cannot be used at all (no modem set).
    static constexpr long kOperationUnavailable = static_cast<int32_t>(0x80000049u);

    explicit PagerDialer(PagerTimings timings = {});
    ~PagerDialer();
    PagerDialer(const PagerDialer&) = delete;
    PagerDialer& operator=(const PagerDialer&) = delete;

    // Names the modem device the calls go through.
    void Attach(const QString& modemDevice);
    // Places the call: -1 for an empty sequence or a modem that cannot be
    // opened or does not answer; kOperationUnavailable without a device;
    // otherwise the (positive) request number once the call setup time passed.
    long Dial(const QString& sequence);
    // Ends the call and frees the line; returns the last result (0).
    long HangUp();

    QString lastStatus() const { return m_lastStatus; }

    static const char* DisconnectText(int mode);

private:
    void OnModemReply(const ModemLine::Event& event);
    void OnCallState(int state, int mode);
    void setStatus(const char* text);
    // Handles modem replies for ms milliseconds (or until the line closes).
    void pump(int ms);

    PagerTimings m_timings;
    QString m_device;
    bool m_initialised = false;
    ModemLine m_line;
    long m_call = 0;       // request number of the call in progress; 0 when none
    bool m_online = false; // the modem reported CONNECT
    long m_lastRequest = 0;
    long m_lastResult = 0;
    int m_pumpDepth = 0;
    QString m_lastStatus;
};

} // namespace qm
