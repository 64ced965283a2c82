// The ICMP echo probe: the checksum and the classification of datagrams, then
// real sockets: the loopback answers, an address in a namespace of the test's
// own never does, and crafted ICMP messages are sent only inside such a
// namespace, where no other prober can see them.
#include "platform/IcmpSocket.h"
#include "platform/ThreadId.h"
#include "probes/EchoPacket.h"
#include "probes/ProbeRun.h"
#include "probes/SocketErrorText.h"
#include "support/FakeClock.h"
#include "support/ServerProcess.h"
#include "support/TestNamespace.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <optional>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::FakeClock;
using test::RecordingSink;
using test::ReportTexts;
using test::TestNamespace;
using test::Texts;
using Check = EchoReplyCheck;

// An ICMP message: type, code, identifier and sequence (little-endian), then
// the payload; the checksum is filled in.
std::vector<uint8_t> IcmpMessage(uint8_t type, uint16_t id, uint16_t sequence, const std::vector<uint8_t>& payload,
                                 uint8_t code = 0)
{
    std::vector<uint8_t> m(8 + payload.size(), 0);
    m[0] = type;
    m[1] = code;
    m[4] = uint8_t(id);
    m[5] = uint8_t(id >> 8);
    m[6] = uint8_t(sequence);
    m[7] = uint8_t(sequence >> 8);
    std::copy(payload.begin(), payload.end(), m.begin() + 8);
    const uint16_t sum = InternetChecksum(m.data(), m.size());
    m[2] = uint8_t(sum);
    m[3] = uint8_t(sum >> 8);
    return m;
}

// Sends an ICMP message to 127.0.0.1 through a raw socket of the calling thread.
bool SendIcmp(const std::vector<uint8_t>& message)
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const ssize_t n = ::sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    ::close(fd);
    return n == static_cast<ssize_t>(message.size());
}

// Takes CAP_NET_RAW out of the calling thread's effective capabilities.
bool DropRawRights()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_NET_RAW / 32].effective &= ~(1u << (CAP_NET_RAW % 32));
    return ::syscall(SYS_capset, &header, data) == 0;
}

TEST(InternetChecksum, MatchesTheRfc1071ExampleAndFoldsCarries)
{
    // RFC 1071's example sums to 0xddf2; stored low byte first the checksum
    // bytes are 0x22 0x0d, the same bytes as in network order.
    const uint8_t example[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(InternetChecksum(example, 8), 0x0d22);
    // An odd last byte counts as a low byte.
    EXPECT_EQ(InternetChecksum(example, 7), 0x0423);
    const uint8_t one[] = {0x01};
    EXPECT_EQ(InternetChecksum(one, 1), 0xfffe);
    // 0xffff + 0xffff + 0x0001 needs the carry folded twice.
    const uint8_t carries[] = {0xff, 0xff, 0xff, 0xff, 0x01, 0x00};
    EXPECT_EQ(InternetChecksum(carries, 6), 0xfffe);
}

// A received datagram: an IPv4 header of headerLength bytes, then the first
// icmpLength bytes of an ICMP message whose data starts with the timestamp.
std::vector<uint8_t> Datagram(uint8_t type, uint16_t id, uint32_t timestamp, std::size_t headerLength = 20,
                              std::size_t icmpLength = 44)
{
    std::vector<uint8_t> data(36, 0x45);
    for (int i = 0; i < 4; ++i)
        data[i] = static_cast<uint8_t>(timestamp >> (8 * i));
    const std::vector<uint8_t> icmp = IcmpMessage(type, id, 0, data);
    std::vector<uint8_t> d(headerLength, 0);
    d[0] = static_cast<uint8_t>(0x40 | (headerLength / 4));
    d.insert(d.end(), icmp.begin(), icmp.begin() + std::min(icmpLength, icmp.size()));
    return d;
}

// Our replies give the echo time, other probers' replies and echo requests are
// skipped, and everything else gets its text.
TEST(CheckEchoReply, ClassifiesEachDatagram)
{
    const uint16_t mine = 0x4D51;
    const std::string tooFew = "\"Too few bytes from 127.0.0.9\"";
    const struct
    {
        std::vector<uint8_t> datagram;
        Check::Kind kind;
        uint32_t echoTime;
        std::string failure;
    } cases[] = {
        {Datagram(0, mine, 5000 - 37), Check::EchoTime, 37, ""},
        // The span survives a wrap of the tick counter.
        {Datagram(0, mine, 0xFFFFFFF0u), Check::EchoTime, 5000 + 16, ""},
        // The ICMP message starts after the header length the datagram states.
        {Datagram(0, mine, 4990, 24), Check::EchoTime, 10, ""},
        // Exactly a header and 8 ICMP bytes is enough; without our timestamp
        // it counts as answered at once.
        {Datagram(0, mine, 4999, 20, 8), Check::EchoTime, 0, ""},
        {Datagram(0, uint16_t(mine ^ 0x0100), 4990), Check::NotMine, 0, ""},
        {Datagram(0, uint16_t(mine ^ 0x0001), 4990), Check::NotMine, 0, ""},
        // Our own request, seen by a raw socket when the local machine is pinged.
        {Datagram(8, mine, 4990), Check::NotMine, 0, ""},
        {Datagram(3, mine, 4990), Check::Failure, 0, "Destination Unreachable  Network or Host unknown"},
        {Datagram(11, mine, 4990), Check::Failure, 0, "Time Exceeded  TTL exceeded  "},
        {Datagram(9, mine, 4990), Check::Failure, 0, "Non-echo type 9 packet recvd."},
        // A bare header, a longer header with only 7 ICMP bytes, and nothing.
        {Datagram(0, mine, 0, 20, 0), Check::Failure, 0, tooFew},
        {Datagram(0, mine, 0, 24, 7), Check::Failure, 0, tooFew},
        {{}, Check::Failure, 0, tooFew},
    };
    sockaddr_in sender{};
    sender.sin_family = AF_INET;
    sender.sin_addr.s_addr = inet_addr("127.0.0.9");
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const Check check = CheckEchoReply(c.datagram.data(), c.datagram.size(), sender, mine, 5000);
        EXPECT_EQ(check.kind, c.kind) << "case " << i;
        EXPECT_EQ(check.echoTimeMs, c.echoTime) << "case " << i;
        EXPECT_EQ(check.failure, c.failure) << "case " << i;
    }
}

TEST(ProbeEcho, EchoTimeAndTheWaitLimitFollowTheProbesClock)
{
    // In a namespace of the test's own, where no other prober's datagrams
    // reach the socket and take clock readings.
    TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    const auto echo = [](ProbeSocket& p) { p.ProbeEcho("127.0.0.1"); };
    std::optional<test::ProbeRun> answered, late;
    ASSERT_EQ(ns.run([&] {
        // Readings: timestamp t, wait start t+100, reply classified at t+200.
        answered.emplace(echo, FakeClock(7000, 100));
        // The same reply, but the clock says 600 ms passed since the send,
        // across the wrap of the tick.
        late.emplace(echo, FakeClock(0xFFFFFE00u, 300));
    }),
              "");
    EXPECT_EQ(answered->texts, Texts{"ok: Success"});
    EXPECT_EQ(answered->responseTime, 200u);
    EXPECT_EQ(late->texts, Texts{"fail: Timed out"});
}

// The second probe goes by name; both are answered by the loopback. Between
// them a late reply to the first request waits on the thread's socket: it
// must not pass for the answer to the second.
TEST(ProbeEcho, RequestsOnTheWireCarryTheSequenceTimestampAndData)
{
    TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    RecordingSink sink;
    std::vector<std::vector<uint8_t>> requests;
    uint16_t identifier = 0;
    std::string captureError;
    const std::string entered = ns.run([&] {
        identifier = static_cast<uint16_t>(CurrentThreadId() & 0xFFFF);
        // A plain raw socket sees the requests the probe sends to itself.
        const int capture = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (capture < 0) {
            captureError = "no raw socket";
            return;
        }
        const timeval tv{0, 200000};
        ::setsockopt(capture, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        const FakeClock clock(0x12345678);
        ProbeSocket probe(sink, clock);
        probe.ProbeEcho("127.0.0.1");
        if (!SendIcmp(IcmpMessage(0, identifier, 0, {0x00, 0x00, 0x34, 0x12})))
            captureError = "cannot send the late reply";
        probe.ProbeEcho("localhost");
        for (int i = 0; i < 20 && requests.size() < 2; ++i) {
            uint8_t buf[1024];
            const ssize_t n = ::recv(capture, buf, sizeof(buf), 0);
            if (n < 0)
                break;
            const std::size_t hl = (buf[0] & 0x0F) * 4u;
            if (std::size_t(n) > hl + 8 && buf[hl] == 8 && ReadLe16(buf + hl + 4) == identifier)
                requests.emplace_back(buf + hl, buf + n);
        }
        ::close(capture);
    });
    ASSERT_EQ(entered, "");
    ASSERT_EQ(captureError, "");
    EXPECT_EQ(ReportTexts(sink), (Texts{"ok: Success", "ok: Success"}));
    for (const auto& report : sink.reports())
        EXPECT_EQ(report.result.responseTime, 0u); // the late reply's stamp would give 0x5678
    ASSERT_EQ(requests.size(), 2u);
    for (uint16_t seq = 0; seq < 2; ++seq) {
        std::vector<uint8_t> request = requests[seq];
        EXPECT_EQ(InternetChecksum(request.data(), request.size()), 0) << "checksum of request " << seq;
        request[2] = request[3] = 0;
        // Little-endian identifier, sequence and timestamp, then the data.
        std::vector<uint8_t> expected{8, 0, 0, 0, uint8_t(identifier), uint8_t(identifier >> 8), uint8_t(seq), 0,
                                      0x78, 0x56, 0x34, 0x12};
        expected.resize(kEchoRequestSize, 0x45);
        EXPECT_EQ(request, expected) << "request " << seq;
    }
}

TEST(ProbeEcho, SilentUnknownAndUnroutedAddresses)
{
    TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    RecordingSink sink;
    std::chrono::milliseconds waited{};
    const std::string entered = ns.run([&] {
        ProbeSocket probe(sink);
        const auto start = std::chrono::steady_clock::now();
        probe.ProbeEcho(TestNamespace::kSilentAddress);
        waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        probe.ProbeEcho("qm-nowhere.invalid");
        probe.ProbeEcho("10.78.0.1"); // no route at all
    });
    ASSERT_EQ(entered, "");
    EXPECT_EQ(ReportTexts(sink),
              (Texts{"fail: Timed out", "fail: Can't resolve qm-nowhere.invalid",
                                        "fail: Sendto failed: The network cannot be reached from this host at this time. "}));
    EXPECT_GE(waited, 450ms);
    EXPECT_LT(waited, 2000ms);
}

// The probe waits on the silent address; meanwhile an unreachable message
// arrives. It ends the attempt with its text, and with nothing else, even when
// the wait limit has passed by the time it is looked at. The message is sent
// once the probe has read the clock for the request and for its wait.
TEST(ProbeEcho, IcmpErrorDuringTheWaitIsReportedOnce)
{
    TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    for (const uint32_t step : {0u, 600u}) {
        RecordingSink sink;
        bool sent = false;
        const std::string entered = ns.run([&] {
            const FakeClock clock(1000, step);
            ProbeSocket probe(sink, clock);
            std::thread injector([&] {
                clock.waitForReadings(2, 5s);
                // Host unreachable, quoting a datagram to the silent address.
                const std::vector<uint8_t> quoted{0x45, 0, 0, 28, 0, 0, 0, 0, 64, 17, 0, 0, 10, 77, 0, 1,
                                                  10, 77, 0, 9, 0x30, 0x39, 0, 53, 0, 8, 0, 0};
                sent = SendIcmp(IcmpMessage(3, 0, 0, quoted, 1));
            });
            probe.ProbeEcho(TestNamespace::kSilentAddress);
            injector.join();
        });
        ASSERT_EQ(entered, "");
        ASSERT_TRUE(sent);
        EXPECT_EQ(ReportTexts(sink), Texts{"fail: Destination Unreachable  Network or Host unknown"})
            << "clock step " << step;
    }
}

// The socket's filter hands over only what the probe acts on: its own echo
// replies and the ICMP types it reports.
TEST(IcmpSocket, PassesOurRepliesAndReportableTypesOnly)
{
    TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    std::vector<std::pair<int, uint16_t>> seen; // type, sequence
    bool sentAll = false;
    bool raw = false;
    const std::string entered = ns.run([&] {
        const uint16_t id = 0x4D51;
        IcmpSocket icmp;
        if (!icmp.open(id))
            return;
        raw = icmp.isRaw();
        const timeval tv{0, 300000};
        ::setsockopt(icmp.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        const std::vector<uint8_t> data(36, 0x45);
        // The stack answers the request with a reply of our own; the request
        // itself must not come through.
        sentAll = SendIcmp(IcmpMessage(0, uint16_t(id ^ 0x0100), 1, data)) // another prober's reply
                  && SendIcmp(IcmpMessage(8, id, 2, data))                // a request
                  && SendIcmp(IcmpMessage(0, id, 3, data))                // our reply
                  && SendIcmp(IcmpMessage(9, 0, 4, data))                 // a type that is reported
                  && SendIcmp(IcmpMessage(0, uint16_t(id ^ 0x0001), 5, data))
                  && SendIcmp(IcmpMessage(0, id, 6, data));
        for (int i = 0; i < 10; ++i) {
            uint8_t buf[1024];
            sockaddr_in from{};
            const ssize_t n = icmp.receive(buf, sizeof(buf), &from);
            if (n < 0)
                break;
            const std::size_t hl = (buf[0] & 0x0F) * 4u;
            if (std::size_t(n) >= hl + 8)
                seen.emplace_back(buf[hl], ReadLe16(buf + hl + 6));
        }
    });
    ASSERT_EQ(entered, "");
    ASSERT_TRUE(raw) << "the test runs with CAP_NET_RAW and expects a raw socket";
    ASSERT_TRUE(sentAll);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::pair<int, uint16_t>>{{0, 2}, {0, 3}, {0, 6}, {9, 4}}));
}

// Without the rights for raw sockets the probe falls back to the datagram
// ICMP socket where the namespace's ping_group_range allows it.
TEST(ProbeEcho, WithoutRawRightsUsesTheDatagramSocketOrSaysWhy)
{
    TestNamespace ns;
    ASSERT_EQ(ns.error(), "");
    const std::string rangeFile = "/proc/sys/net/ipv4/ping_group_range";
    const std::string hostRange = test::ReadFile(rangeFile);
    for (const char* groups : {"0 2147483647", "1 0"}) {
        RecordingSink sink;
        std::string setup;
        bool raw = true;
        const std::string entered = ns.run([&] {
            // The range is a setting of each namespace; this sets the test's own.
            test::WriteFile(rangeFile, groups);
            std::string range = test::ReadFile(rangeFile);
            std::replace(range.begin(), range.end(), '\t', ' ');
            if (range != std::string(groups) + "\n")
                setup = "ping_group_range reads " + range;
            if (!DropRawRights())
                setup = "cannot drop CAP_NET_RAW";
            IcmpSocket probeSocket;
            raw = probeSocket.open(1) && probeSocket.isRaw();
            ProbeSocket probe(sink);
            probe.ProbeEcho("127.0.0.1");
            probe.ProbeEcho(TestNamespace::kSilentAddress);
        });
        ASSERT_EQ(test::ReadFile(rangeFile), hostRange) << "the machine's own setting changed";
        ASSERT_EQ(entered, "");
        ASSERT_EQ(setup, "");
        EXPECT_FALSE(raw);
        if (groups[0] == '0') {
            EXPECT_EQ(ReportTexts(sink), (Texts{"ok: Success", "fail: Timed out"}));
        } else {
            const std::string denied = "fail: WSASocket() failed: " + SocketErrorText(10013);
            EXPECT_EQ(ReportTexts(sink), (Texts{denied, denied}));
        }
    }
}

} // namespace
} // namespace qm
