#pragma once

namespace qm {

// Winsock error numbers. Probe texts are keyed by these, so native errors are
// mapped onto them first.
enum WinsockError : int {
    WsaEIntr = 10004,
    WsaEAcces = 10013,
    WsaEFault = 10014,
    WsaEInval = 10022,
    WsaEWouldBlock = 10035,
    WsaEInProgress = 10036,
    WsaEAlready = 10037,
    WsaENotSock = 10038,
    WsaEMsgSize = 10040,
    WsaEAfNoSupport = 10047,
    WsaEAddrInUse = 10048,
    WsaEAddrNotAvail = 10049,
    WsaENetDown = 10050,
    WsaENetUnreach = 10051,
    WsaENetReset = 10052,
    WsaEConnAborted = 10053,
    WsaEConnReset = 10054,
    WsaENoBufs = 10055,
    WsaEIsConn = 10056,
    WsaENotConn = 10057,
    WsaEShutdown = 10058,
    WsaETimedOut = 10060,
    WsaEConnRefused = 10061,
    WsaEHostDown = 10064,
    WsaEHostUnreach = 10065,
    WsaNotInitialised = 10093,
};

// Maps an errno value to the Winsock number of the same meaning; errors with
// no counterpart are returned offset by 20000 so they never collide.
int WinsockErrorFromErrno(int err);

// The Winsock number for the calling thread's current errno.
int LastSocketError();

} // namespace qm
