#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// Sizes of the query and reply buffers, and of a name in text form (255
// characters and a terminating zero in the classic layout).
inline constexpr std::size_t kDnsBufferSize = 2048;
inline constexpr std::size_t kDnsMaxNameText = 255;
inline constexpr std::size_t kDnsHeaderSize = 12;

inline constexpr int kDnsTypeA = 1;
inline constexpr int kDnsTypeNs = 2;
inline constexpr int kDnsTypeCname = 5;
inline constexpr int kDnsTypePtr = 12;
inline constexpr int kDnsTypeMx = 15;

// Writes the label form of a dotted name (length-prefixed labels, then a zero
// byte) to out. Returns the bytes written before the final zero byte, which is
// n + 1 for a name of n characters, or -1 when the encoding does not fit in
// `capacity` bytes. Label lengths are not checked here.
int EncodeDnsName(std::string_view name, uint8_t* out, std::size_t capacity);

// A name read from a reply in dotted form, without a trailing dot.
struct DnsName
{
    enum Error { None, OutOfBounds, TooLong, PointerLoop } error = None;
    std::string text;
};

// Reads the possibly compressed name at `position` of the `length` received
// bytes. Never reads outside them; a name that leaves them, exceeds 255
// characters or keeps following compression pointers gives an error.
DnsName ReadDnsName(const uint8_t* reply, std::size_t length, std::size_t position);

// The text made from the records of a reply, or why the reply cannot be read.
struct DnsAnswers
{
    std::string text;
    std::string problem; // empty when the reply was read
};

// Formats every record of the answer, authority and additional sections of
// the `length` received bytes. Records of a type this monitor does not name
// (CNAME included) turn the whole text into "Type N not implemented yet.".
DnsAnswers FormatDnsAnswers(const uint8_t* reply, std::size_t length);

// ANCOUNT of a reply, 0 when fewer than a header's bytes arrived.
int DnsAnswerCount(const uint8_t* reply, std::size_t length);

// Why a reply holds no answer, by its response code: "no data" (no error, no
// answer records), "SERVFAIL", "NXDOMAIN: no such name", "REFUSED", else
// "RCODE n". Empty for fewer than a header's bytes, or answers without error.
std::string DnsReplyCause(const uint8_t* reply, std::size_t length);

} // namespace qm
