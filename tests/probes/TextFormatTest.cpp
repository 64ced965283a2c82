// Message templates, Base64, the socket error sentences and the errno mapping.
#include "platform/SocketErrors.h"
#include "probes/Base64.h"
#include "probes/MessageTemplate.h"
#include "probes/ProbeSocket.h"
#include "probes/SocketErrorText.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(MessageTemplate, InsertsTextsAndNumbersAndCopiesTheRest)
{
    EXPECT_EQ(FormatTemplate("Can't resolve %1!s!", {"mail.example.invalid"}), "Can't resolve mail.example.invalid");
    EXPECT_EQ(FormatTemplate("%2!s! then %1!s!", {"one", "two"}), "two then one");
    EXPECT_EQ(FormatTemplate("Non-echo type %1!d! packet recvd.", {"9"}), "Non-echo type 9 packet recvd.");
    // Inserted text is not scanned again, and near-misses stay as they are.
    EXPECT_EQ(FormatTemplate("[%1!s!]", {"%2!s!"}), "[%2!s!]");
    EXPECT_EQ(FormatTemplate("100% %1!x! %1!s", {"a"}), "100% %1!x! %1!s");
    EXPECT_EQ(FormatTemplate("Timed out", {}), "Timed out");
    // A placeholder with no insert leaves nothing behind.
    EXPECT_EQ(FormatTemplate("a%2!s!b", {"x"}), "ab");
}

TEST(Base64, MatchesTheRfc4648VectorsBothWays)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, coded] : vectors) {
        EXPECT_EQ(Base64Encode(plain), coded) << plain;
        EXPECT_EQ(Base64Decode(coded), plain) << coded;
    }
    // The last two letters of the alphabet, and bytes above 127.
    const std::string high("\xfb\xff\xbf\x00\x80", 5);
    EXPECT_EQ(Base64Encode(high), "+/+/AIA=");
    EXPECT_EQ(Base64Decode("+/+/AIA="), high);
}

// A native error reaches the operator as the sentence of its Winsock number.
// The errors the probes meet on loopback are checked end to end (refused,
// timed out, unreachable network, address in use, not a socket, reset).
TEST(SocketErrorText, NativeErrorsGiveTheSentenceOfTheSameMeaning)
{
    const std::pair<int, const char*> cases[] = {
        // The trailing blanks belong to the sentences.
        {EHOSTUNREACH, "The network cannot be reached from this host at this time. "},
        {EINTR, "The (blocking) call was canceled through WSACancelBlockingCall. "},
        {EADDRNOTAVAIL, "The specified address is not available from the local machine. "},
        {EACCES, "Attempt to connect datagram socket to broadcast address failed because setsockopt "
                 "option SO_BROADCAST is not enabled. "},
        // Errors without a counterpart never land on a Winsock number.
        {ENOENT, "Undefined"},
    };
    for (const auto& [err, sentence] : cases)
        EXPECT_EQ(SocketErrorText(WinsockErrorFromErrno(err)), sentence) << "errno " << err;
    EXPECT_EQ(SocketErrorText(ECONNREFUSED), "Undefined") << "native numbers must be mapped first";
    errno = ECONNREFUSED;
    EXPECT_EQ(LastSocketError(), 10061);
}

TEST(TrimText, RemovesTheSixWhiteSpaceBytesAtBothEndsOnly)
{
    EXPECT_EQ(TrimText(" \t\r\n\v\f+OK ready \t x\r\n\v\f "), "+OK ready \t x");
    EXPECT_EQ(TrimText("\r\n \t"), "");
    EXPECT_EQ(TrimText(std::string_view("\0a\0", 3)), std::string("\0a\0", 3));
}

} // namespace
} // namespace qm
