// The echo request bytes, the checksum and the classification of datagrams.
#include "platform/ThreadId.h"
#include "probes/EchoPacket.h"
#include "probes/ProbeSocket.h"
#include "support/RecordingSink.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <vector>

namespace qm {
namespace {

using test::RecordingSink;

class FixedClock : public Clock
{
public:
    explicit FixedClock(uint32_t now) : m_now(now) {}
    uint32_t tick() const override { return m_now; }

private:
    uint32_t m_now;
};

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

TEST(EchoRequest, HasTheLittleEndianFieldsTheDataAndAValidChecksum)
{
    std::vector<uint8_t> packet(kEchoRequestSize, 0xAA);
    BuildEchoRequest(packet.data(), packet.size(), 0xBEEF);
    StampEchoRequest(packet.data(), packet.size(), 0x0102, 0xA1B2C3D4);
    const std::vector<uint8_t> head(packet.begin(), packet.begin() + 12);
    const uint16_t sum = ReadLe16(packet.data() + 2);
    EXPECT_EQ(head, (std::vector<uint8_t>{8, 0, uint8_t(sum & 0xFF), uint8_t(sum >> 8), 0xEF, 0xBE, 0x02, 0x01,
                                          0xD4, 0xC3, 0xB2, 0xA1}));
    for (std::size_t i = 12; i < packet.size(); ++i)
        ASSERT_EQ(packet[i], 0x45) << "data byte " << i;
    // A packet that carries its own checksum sums to zero.
    EXPECT_EQ(InternetChecksum(packet.data(), packet.size()), 0);
    std::vector<uint8_t> zeroed = packet;
    zeroed[2] = zeroed[3] = 0;
    EXPECT_EQ(InternetChecksum(zeroed.data(), zeroed.size()), sum);
}

// A received datagram: an IPv4 header of headerLength bytes, then the ICMP
// message (type, code, checksum, identifier, sequence, timestamp, data).
std::vector<uint8_t> Datagram(uint8_t type, uint16_t id, uint32_t timestamp, std::size_t headerLength = 20,
                              std::size_t icmpLength = 44)
{
    uint8_t icmp[44];
    std::fill(std::begin(icmp), std::end(icmp), 0x45);
    icmp[0] = type;
    icmp[1] = icmp[2] = icmp[3] = 0;
    icmp[4] = static_cast<uint8_t>(id);
    icmp[5] = static_cast<uint8_t>(id >> 8);
    icmp[6] = icmp[7] = 0;
    for (int i = 0; i < 4; ++i)
        icmp[8 + i] = static_cast<uint8_t>(timestamp >> (8 * i));
    std::vector<uint8_t> d(headerLength, 0);
    d[0] = static_cast<uint8_t>(0x40 | (headerLength / 4));
    d.insert(d.end(), icmp, icmp + std::min<std::size_t>(icmpLength, sizeof(icmp)));
    return d;
}

class CheckEchoReplyTest : public testing::Test
{
protected:
    ProbeSocket::EchoVerdict check(const std::vector<uint8_t>& d)
    {
        return probe.CheckEchoReply(d.data(), d.size(), sender);
    }
    std::vector<std::string> failures() const
    {
        std::vector<std::string> out;
        for (const auto& r : sink.results()) {
            EXPECT_EQ(r.kind, RecordingSink::Report::Failure);
            out.push_back(r.result.message);
        }
        return out;
    }

    RecordingSink sink;
    FixedClock clock{5000};
    ProbeSocket probe{sink, clock};
    sockaddr_in sender = [] {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = inet_addr("1.2.3.4");
        return a;
    }();
    uint16_t mine = static_cast<uint16_t>(CurrentThreadId() & 0xFFFF);
};

TEST_F(CheckEchoReplyTest, OurReplyGivesTheEchoTimeOthersAreSkippedSilently)
{
    auto v = check(Datagram(0, mine, 5000 - 37));
    EXPECT_EQ(v.kind, ProbeSocket::EchoVerdict::EchoTime);
    EXPECT_EQ(v.echoTimeMs, 37u);
    // The span survives a wrap of the tick counter.
    v = check(Datagram(0, mine, 0xFFFFFFF0u));
    EXPECT_EQ(v.kind, ProbeSocket::EchoVerdict::EchoTime);
    EXPECT_EQ(v.echoTimeMs, 5000u + 16u);
    // The ICMP message starts after the header length the datagram states.
    v = check(Datagram(0, mine, 4990, 24));
    EXPECT_EQ(v.kind, ProbeSocket::EchoVerdict::EchoTime);
    EXPECT_EQ(v.echoTimeMs, 10u);

    EXPECT_EQ(check(Datagram(0, uint16_t(mine ^ 0x0100), 4990)).kind, ProbeSocket::EchoVerdict::NotMine);
    EXPECT_EQ(check(Datagram(0, uint16_t(mine ^ 0x0001), 4990)).kind, ProbeSocket::EchoVerdict::NotMine);
    // Our own request, seen by a raw socket when the local machine is pinged.
    EXPECT_EQ(check(Datagram(8, mine, 4990)).kind, ProbeSocket::EchoVerdict::NotMine);
    EXPECT_TRUE(sink.results().empty()) << failures().size() << " reports";
}

TEST_F(CheckEchoReplyTest, OtherTypesAreReportedWithTheirText)
{
    const std::pair<uint8_t, const char*> cases[] = {
        {3, "Destination Unreachable  Network or Host unknown"},
        {11, "Time Exceeded  TTL exceeded  "},
        {9, "Non-echo type 9 packet recvd."},
    };
    std::vector<std::string> expected;
    for (const auto& [type, text] : cases) {
        EXPECT_EQ(check(Datagram(type, mine, 4990)).kind, ProbeSocket::EchoVerdict::AlreadyReported) << int(type);
        expected.push_back(text);
    }
    EXPECT_EQ(failures(), expected);
}

TEST_F(CheckEchoReplyTest, ShortDatagramIsReportedWithTheSenderInQuotes)
{
    // A bare 20-byte header; then a 24-byte header with only 7 ICMP bytes.
    EXPECT_EQ(check(Datagram(0, mine, 0, 20, 0)).kind, ProbeSocket::EchoVerdict::AlreadyReported);
    EXPECT_EQ(check(Datagram(0, mine, 0, 24, 7)).kind, ProbeSocket::EchoVerdict::AlreadyReported);
    EXPECT_EQ(probe.CheckEchoReply(nullptr, 0, sender).kind, ProbeSocket::EchoVerdict::AlreadyReported);
    const std::string text = "\"Too few bytes from 1.2.3.4\"";
    EXPECT_EQ(failures(), (std::vector<std::string>{text, text, text}));
    // Exactly a header and 8 ICMP bytes is enough.
    EXPECT_EQ(check(Datagram(0, mine, 4999, 20, 8)).kind, ProbeSocket::EchoVerdict::EchoTime);
}

} // namespace
} // namespace qm
