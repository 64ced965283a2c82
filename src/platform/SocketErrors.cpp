#include "platform/SocketErrors.h"

#include <cerrno>

namespace qm {

int WinsockErrorFromErrno(int err)
{
    switch (err) {
    case EINTR: return WsaEIntr;
    case EACCES:
    case EPERM: return WsaEAcces;
    case EFAULT: return WsaEFault;
    case EINVAL: return WsaEInval;
    case EAGAIN: return WsaEWouldBlock;
    case EINPROGRESS: return WsaEInProgress;
    case EALREADY: return WsaEAlready;
    case ENOTSOCK:
    case EBADF: return WsaENotSock;
    case EMSGSIZE: return WsaEMsgSize;
    case EAFNOSUPPORT: return WsaEAfNoSupport;
    case EADDRINUSE: return WsaEAddrInUse;
    case EADDRNOTAVAIL: return WsaEAddrNotAvail;
    case ENETDOWN: return WsaENetDown;
    case ENETUNREACH: return WsaENetUnreach;
    case ENETRESET: return WsaENetReset;
    case ECONNABORTED: return WsaEConnAborted;
    case ECONNRESET:
    case EPIPE: return WsaEConnReset;
    case ENOBUFS:
    case ENOMEM: return WsaENoBufs;
    case EISCONN: return WsaEIsConn;
    case ENOTCONN: return WsaENotConn;
    case ESHUTDOWN: return WsaEShutdown;
    case ETIMEDOUT: return WsaETimedOut;
    case ECONNREFUSED: return WsaEConnRefused;
    case EHOSTDOWN: return WsaEHostDown;
    case EHOSTUNREACH: return WsaENetUnreach; // operators read both as "cannot be reached"
    default: return 20000 + err;
    }
}

int LastSocketError()
{
    return WinsockErrorFromErrno(errno);
}

} // namespace qm
