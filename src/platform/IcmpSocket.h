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
    bool attachEchoFilter(uint16_t identifier);
    ssize_t receiveQueuedError(uint8_t* buf, std::size_t cap, sockaddr_in* from);

    int m_fd = -1;
    bool m_raw = false;
    int m_error = 0;
    uint16_t m_identifier = 0;
};

} // namespace qm
