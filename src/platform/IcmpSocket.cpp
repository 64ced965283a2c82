#include "platform/IcmpSocket.h"

#include "platform/SocketErrors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>
#include <linux/errqueue.h>
#include <linux/filter.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

bool IcmpSocket::openShared()
{
    close();
    m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (m_fd < 0) {
        m_error = WinsockErrorFromErrno(errno);
        return false;
    }
    m_raw = true;
    attachEchoFilter(0, true);
    // Room for bursts of replies while every reader is busy.
    const int bytes = 4 * 1024 * 1024;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes)) != 0)
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
    return true;
}

bool IcmpSocket::attachEchoFilter(uint16_t identifier, bool anyIdentifier)
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
    if (anyIdentifier) // every reply passes: the identifier test always holds
        code[9] = BPF_STMT(BPF_JMP | BPF_JA, 0);
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

// ---- the shared channel -----------------------------------------------------

namespace qm {

namespace {

struct Datagram
{
    std::vector<uint8_t> bytes;
    sockaddr_in from{};
};

// What waits for one thread: its datagrams, and the signal that wakes it
// while it waits for them.
struct ReplySlot
{
    std::condition_variable ready;
    std::deque<Datagram> queue;
    bool waiting = false;
};

constexpr std::size_t kSlotLimit = 64; // a thread that stopped reading loses the oldest
constexpr int kReaderPollMs = 1000;    // how often the reader looks at its stop flag

// The shared socket of one network namespace and the one thread that reads
// it. Only that thread sleeps on the socket, so a datagram wakes one thread
// and then the one prober it is for, however many probers there are.
class ReplyHub
{
public:
    explicit ReplyHub(ino_t space) : m_space(space) {}
    ~ReplyHub()
    {
        if (m_reader.joinable()) {
            m_stop.store(true);
            // Ends a blocked receive at once; the receive time-out is the
            // fallback.
            ::shutdown(fd(), SHUT_RD);
            m_reader.join();
        }
    }
    ReplyHub(const ReplyHub&) = delete;
    ReplyHub& operator=(const ReplyHub&) = delete;

    bool open()
    {
        if (!m_socket.openShared())
            return false;
        const timeval tv{kReaderPollMs / 1000, (kReaderPollMs % 1000) * 1000};
        ::setsockopt(fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        try {
            m_reader = std::thread([this] { read(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }
    int fd() const { return m_socket.fd(); }
    ino_t space() const { return m_space; }

    void enroll(uint16_t identifier, ReplySlot* slot)
    {
        std::lock_guard lock(m_mutex);
        m_slots[identifier] = slot;
    }
    void leave(uint16_t identifier, ReplySlot* slot)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_slots.find(identifier);
        if (it != m_slots.end() && it->second == slot)
            m_slots.erase(it);
        slot->queue.clear();
    }
    // Takes the oldest datagram of the slot, waiting at most waitMs for one.
    bool take(ReplySlot* slot, Datagram& out, int waitMs)
    {
        std::unique_lock lock(m_mutex);
        if (slot->queue.empty() && waitMs > 0) {
            slot->waiting = true;
            slot->ready.wait_for(lock, std::chrono::milliseconds(waitMs), [slot] { return !slot->queue.empty(); });
            slot->waiting = false;
        }
        if (slot->queue.empty())
            return false;
        out = std::move(slot->queue.front());
        slot->queue.pop_front();
        return true;
    }

private:
    // Runs on the reader thread until the hub goes.
    void read()
    {
        uint8_t buf[1024];
        while (!m_stop.load()) {
            sockaddr_in from{};
            socklen_t len = sizeof(from);
            const ssize_t n = ::recvfrom(fd(), buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
            // Time-outs, interruptions and the errors a raw socket reports
            // once (an ICMP error about one of our requests) end no reading.
            if (n > 0)
                dispatch(buf, static_cast<std::size_t>(n), from);
        }
    }

    // The identifier our request carried: of the reply itself, or of the
    // request quoted by an ICMP error. -1: none to be read.
    static int Owner(const uint8_t* d, std::size_t n)
    {
        const std::size_t hl = n > 0 ? (d[0] & 0x0F) * 4u : 0;
        if (n < hl + 8)
            return -1;
        const uint8_t* icmp = d + hl;
        if (icmp[0] == 0)
            return icmp[4] | (icmp[5] << 8);
        const std::size_t quoted = hl + 8;
        const std::size_t qhl = n > quoted ? (d[quoted] & 0x0F) * 4u : 0;
        if (qhl < 20 || n < quoted + qhl + 8 || d[quoted + 9] != IPPROTO_ICMP || d[quoted + qhl] != 8)
            return -1;
        return d[quoted + qhl + 4] | (d[quoted + qhl + 5] << 8);
    }
    // Under m_mutex. The waiter is woken under the lock: once it is released
    // the slot's thread may end and take the slot with it.
    static void deliver(ReplySlot* slot, const uint8_t* d, std::size_t n, const sockaddr_in& from)
    {
        if (slot->queue.size() >= kSlotLimit)
            slot->queue.pop_front();
        slot->queue.push_back({std::vector<uint8_t>(d, d + n), from});
        if (slot->waiting)
            slot->ready.notify_one();
    }
    void dispatch(const uint8_t* d, std::size_t n, const sockaddr_in& from)
    {
        const int owner = Owner(d, n);
        std::lock_guard lock(m_mutex);
        if (owner >= 0) {
            auto it = m_slots.find(static_cast<uint16_t>(owner));
            if (it != m_slots.end())
                deliver(it->second, d, n, from);
            if (n > 20 && d[(d[0] & 0x0F) * 4u] == 0)
                return; // a reply is for its prober alone
            if (it != m_slots.end())
                return;
        }
        // An error that names no prober of ours: every prober hears of it,
        // as each would on a socket of its own.
        for (auto& [id, slot] : m_slots)
            deliver(slot, d, n, from);
    }

    const ino_t m_space;
    IcmpSocket m_socket;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
    std::mutex m_mutex;
    std::unordered_map<uint16_t, ReplySlot*> m_slots;
};

std::mutex g_hubsMutex;
std::map<ino_t, std::weak_ptr<ReplyHub>> g_hubs;

std::shared_ptr<ReplyHub> HubFor(ino_t space)
{
    std::lock_guard lock(g_hubsMutex);
    if (auto hub = g_hubs[space].lock())
        return hub;
    auto hub = std::make_shared<ReplyHub>(space);
    if (!hub->open())
        return nullptr;
    g_hubs[space] = hub;
    return hub;
}

class ThreadChannel final : public SharedIcmpChannel
{
public:
    ~ThreadChannel() override { reset(); }

    bool bind(uint16_t identifier)
    {
        struct stat ns{};
        const ino_t space = ::stat("/proc/thread-self/ns/net", &ns) == 0 ? ns.st_ino : 0;
        if (m_hub && m_hub->space() == space && m_identifier == identifier)
            return true;
        reset();
        m_hub = HubFor(space);
        if (!m_hub)
            return false;
        m_identifier = identifier;
        m_hub->enroll(identifier, &m_slot);
        return true;
    }

    int fd() const override { return m_hub->fd(); }

    ssize_t receive(uint8_t* buf, std::size_t cap, sockaddr_in* from, int waitMs) override
    {
        Datagram d;
        if (!m_hub->take(&m_slot, d, waitMs)) {
            errno = EAGAIN;
            return -1;
        }
        const std::size_t n = std::min(cap, d.bytes.size());
        std::memcpy(buf, d.bytes.data(), n);
        *from = d.from;
        return static_cast<ssize_t>(n);
    }

private:
    void reset()
    {
        if (m_hub)
            m_hub->leave(m_identifier, &m_slot);
        m_hub.reset();
    }

    std::shared_ptr<ReplyHub> m_hub;
    ReplySlot m_slot;
    uint16_t m_identifier = 0;
};

} // namespace

SharedIcmpChannel* SharedIcmpChannel::forThisThread(uint16_t identifier)
{
    thread_local ThreadChannel channel;
    return channel.bind(identifier) ? &channel : nullptr;
}

} // namespace qm
