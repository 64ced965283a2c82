#pragma once

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <sys/types.h>

namespace qm {

// An ICMP socket for echo requests. Raw when the process may open raw sockets
// (CAP_NET_RAW); otherwise the unprivileged datagram ICMP socket, where the
// system allows it. Either way receive() hands back whole IPv4 datagrams, so
// callers parse one format: on the datagram socket the ICMP errors about our
// requests (Time Exceeded, Destination Unreachable) come as such datagrams
// too, from the router that sent them.
class IcmpSocket
{
public:
    IcmpSocket() = default;
    ~IcmpSocket();
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    // Opens the socket for echo requests carrying this identifier. On failure
    // returns false and sets error() to a Winsock number.
    bool open(uint16_t identifier);
    // Raw only, for every prober at once: the filter passes echo replies to
    // any identifier and ICMP errors.
    bool openShared();
    void close();
    bool isOpen() const { return m_fd >= 0; }
    bool isRaw() const { return m_raw; }
    int fd() const { return m_fd; }
    int error() const { return m_error; }

    // Whole IPv4 datagram into buf; returns the byte count or -1 (errno set).
    // With waitMs 0 or more it waits at most that long (then EAGAIN, as after
    // a spurious wake-up); with -1 as long as the socket's own time-out says.
    ssize_t receive(uint8_t* buf, std::size_t cap, sockaddr_in* from, int waitMs = -1);

private:
    bool attachEchoFilter(uint16_t identifier, bool anyIdentifier = false);
    ssize_t receiveQueuedError(uint8_t* buf, std::size_t cap, sockaddr_in* from);

    int m_fd = -1;
    bool m_raw = false;
    int m_error = 0;
    uint16_t m_identifier = 0;
};

} // namespace qm

namespace qm {

// The echo replies of every prober in the process through one raw ICMP socket
// per network namespace. A raw socket sees every ICMP datagram of the
// machine, so a thousand probers with a socket each cost the kernel a
// thousand filter runs per datagram; here each datagram is read once and
// handed to the thread whose identifier it carries (an ICMP error about one
// of our requests goes to the request's thread; one that names no request of
// ours goes to every waiting thread). One thread of its own reads the socket:
// a datagram wakes it and then only the prober it is for.
class SharedIcmpChannel
{
public:
    // The calling thread's channel for `identifier`, in the thread's network
    // namespace; null when no raw socket can be had (use an IcmpSocket then).
    static SharedIcmpChannel* forThisThread(uint16_t identifier);

    virtual ~SharedIcmpChannel() = default;
    // For sendto().
    virtual int fd() const = 0;
    // Like IcmpSocket::receive with waitMs >= 0: the next datagram for this
    // thread, as a raw socket would have given it.
    virtual ssize_t receive(uint8_t* buf, std::size_t cap, sockaddr_in* from, int waitMs) = 0;
};

} // namespace qm
