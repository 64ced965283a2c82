#include "platform/IcmpSocket.h"

#include "platform/SocketErrors.h"

#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm {

namespace {
// The IPv4 header put in front of what a datagram ICMP socket delivers.
constexpr std::size_t kHeader = 20;

void WriteHeader(uint8_t* buf, std::size_t total, const in_addr& source)
{
    std::memset(buf, 0, kHeader);
    buf[0] = 0x45;
    buf[2] = static_cast<uint8_t>(total >> 8);
    buf[3] = static_cast<uint8_t>(total & 0xFF);
    buf[8] = 64;
    buf[9] = IPPROTO_ICMP;
    std::memcpy(buf + 12, &source, 4);
}
} // namespace

IcmpSocket::~IcmpSocket()
{
    close();
}

bool IcmpSocket::open(uint16_t identifier)
{
    close();
    m_identifier = identifier;
    m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd >= 0) {
        m_raw = true;
        // A raw ICMP socket sees every ICMP datagram of the machine. The filter
        // keeps only what this prober can act on, so N pingers do not cost N².
        // It only saves work: without it the caller skips the same datagrams.
        attachEchoFilter(identifier);
        return true;
    }
    const int rawError = errno;
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd >= 0) {
        m_raw = false;
        // Without this the socket never hears of the ICMP errors its requests
        // cause. Should it fail, such errors read as silence.
        const int on = 1;
        ::setsockopt(m_fd, SOL_IP, IP_RECVERR, &on, sizeof(on));
        return true;
    }
    // Report the raw failure: it is the one that explains missing rights.
    m_error = WinsockErrorFromErrno(rawError);
    return false;
}

void IcmpSocket::close()
{
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RD);
        ::close(m_fd);
    }
    m_fd = -1;
    m_raw = false;
}

bool IcmpSocket::attachEchoFilter(uint16_t identifier)
{
    // The identifier is written little-endian on the wire; BPF half-word loads
    // are big-endian, so compare against the swapped value.
    const uint32_t wireId = static_cast<uint32_t>(((identifier & 0xFF) << 8) | (identifier >> 8));
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),            // x = IPv4 header length
        BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),             // a = datagram length
        BPF_STMT(BPF_ALU | BPF_SUB | BPF_K, 8),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_X, 0, 1, 0),      // fewer than 8 ICMP bytes:
        BPF_STMT(BPF_RET | BPF_K, 0xFFFF),                 //   reported as too short
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),             // a = ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 8, 4, 0),      // echo request: never ours
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 2),      // not a reply: an error to report
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),             // a = identifier
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, wireId, 0, 1), // another prober's reply
        BPF_STMT(BPF_RET | BPF_K, 0xFFFF),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog prog{static_cast<unsigned short>(sizeof(code) / sizeof(code[0])), code};
    return ::setsockopt(m_fd, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof(prog)) == 0;
}

ssize_t IcmpSocket::receiveQueuedError(uint8_t* buf, std::size_t cap, sockaddr_in* from)
{
    uint8_t payload[1024];
    alignas(cmsghdr) char control[512];
    iovec iov{payload, sizeof(payload)};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    if (::recvmsg(m_fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
        return -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
            continue;
        sock_extended_err error;
        std::memcpy(&error, CMSG_DATA(c), sizeof(error));
        if (error.ee_origin != SO_EE_ORIGIN_ICMP || cap < kHeader + 8)
            continue;
        // The ICMP message as a raw socket would have received it: type and
        // code from the router that sent it.
        std::memcpy(from, CMSG_DATA(c) + sizeof(sock_extended_err), sizeof(sockaddr_in));
        WriteHeader(buf, kHeader + 8, from->sin_addr);
        std::memset(buf + kHeader, 0, 8);
        buf[kHeader] = error.ee_type;
        buf[kHeader + 1] = error.ee_code;
        return static_cast<ssize_t>(kHeader + 8);
    }
    errno = EAGAIN;
    return -1;
}

ssize_t IcmpSocket::receive(uint8_t* buf, std::size_t cap, sockaddr_in* from, int waitMs)
{
    int flags = 0;
    if (waitMs >= 0) {
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, waitMs);
        if (ready < 0)
            return -1;
        if (ready == 0) {
            errno = EAGAIN;
            return -1;
        }
        flags = MSG_DONTWAIT;
    }
    socklen_t fromLen = sizeof(sockaddr_in);
    if (m_raw)
        return ::recvfrom(m_fd, buf, cap, flags, reinterpret_cast<sockaddr*>(from), &fromLen);

    if (cap <= kHeader) {
        errno = EMSGSIZE;
        return -1;
    }
    const ssize_t queued = receiveQueuedError(buf, cap, from);
    if (queued >= 0)
        return queued;
    // A datagram ICMP socket delivers the ICMP message alone, and the kernel
    // has already matched replies to this socket: it rewrote the identifier to
    // its own. Rebuild the datagram with a plain 20-byte header and our
    // identifier so that callers see what a raw socket would have given.
    const ssize_t n = ::recvfrom(m_fd, buf + kHeader, cap - kHeader, flags,
                                 reinterpret_cast<sockaddr*>(from), &fromLen);
    if (n < 0) {
        // A pending ICMP error ends the receive with its errno; the error
        // itself waits on the error queue.
        const int error = errno;
        if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
            const ssize_t late = receiveQueuedError(buf, cap, from);
            if (late >= 0)
                return late;
        }
        errno = error;
        return -1;
    }
    WriteHeader(buf, static_cast<std::size_t>(n) + kHeader, from->sin_addr);
    if (n >= 8 && buf[kHeader] == 0) {
        buf[kHeader + 4] = static_cast<uint8_t>(m_identifier & 0xFF);
        buf[kHeader + 5] = static_cast<uint8_t>(m_identifier >> 8);
    }
    return n + static_cast<ssize_t>(kHeader);
}

} // namespace qm
