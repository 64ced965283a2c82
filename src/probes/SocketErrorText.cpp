#include "probes/SocketErrorText.h"

#include "platform/SocketErrors.h"

namespace qm {

std::string SocketErrorText(int code)
{
    switch (code) {
    case WsaEIntr: return "The (blocking) call was canceled through WSACancelBlockingCall. ";
    case WsaEAcces:
        return "Attempt to connect datagram socket to broadcast address failed because setsockopt "
               "option SO_BROADCAST is not enabled. ";
    case WsaEFault:
        return "The name or the namelen parameter is not a valid part of the user address space, the "
               "namelen parameter is too small, or the name parameter contains incorrect address "
               "format for the associated address family. ";
    case WsaEInval:
        return "The parameter s is a listening socket, or the destination address specified is not "
               "consistent with that of the constrained group the socket belongs to.";
    case WsaEWouldBlock:
        return "The socket is marked as nonblocking and the connection cannot be completed "
               "immediately. Use select to determine the completion of the connection request by "
               "checking to see if the socket is writable. ";
    case WsaEInProgress:
        return "A blocking Windows Sockets 1.1 call is in progress, or the service provider is "
               "still processing a callback function. ";
    case WsaEAlready: return "A nonblocking connect call is in progress on the specified socket.";
    case WsaENotSock: return "The descriptor is not a socket.";
    case WsaEAfNoSupport: return "Addresses in the specified family cannot be used with this socket.";
    case WsaEAddrInUse: return "The specified address is already in use.";
    case WsaEAddrNotAvail: return "The specified address is not available from the local machine. ";
    case WsaENetDown: return "The network subsystem has failed. ";
    case WsaENetUnreach: return "The network cannot be reached from this host at this time. ";
    case WsaENoBufs: return "No buffer space is available. The socket cannot be connected. ";
    case WsaEIsConn: return "The socket is already connected (connection-oriented sockets only). ";
    case WsaETimedOut: return "Attempt to connect timed out without establishing a connection.";
    case WsaEConnRefused: return "The attempt to connect was forcefully rejected.";
    case WsaNotInitialised: return "A successful WSAStartup must occur before using this function.";
    default: return "Undefined";
    }
}

} // namespace qm
