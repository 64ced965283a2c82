#pragma once

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <sys/types.h>

namespace qm {

// An ICMP socket for echo requests. Raw when the process may open raw sockets
// (CAP_NET_RAW); otherwise the unprivileged datagram ICMP socket, where the
// system allows it. Either way receive() hands back whole IPv4 datagrams, so
// callers parse one format.
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
    ssize_t receive(uint8_t* buf, std::size_t cap, sockaddr_in* from);

private:
    bool attachEchoFilter(uint16_t identifier);

    int m_fd = -1;
    bool m_raw = false;
    int m_error = 0;
    uint16_t m_identifier = 0;
};

} // namespace qm
