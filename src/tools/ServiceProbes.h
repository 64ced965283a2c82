#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

class ProbeSocket;

// Receive time-out of the services that are read with one (each single wait
// for data, not the whole read).
inline constexpr int kServiceReceiveTimeoutMs = 1000;
// Wait for data of the services read without a time-out of their own
// (TIME, DAYTIME, TELNET), so that no server holds a worker for ever.
inline constexpr int kServiceDataWaitMs = 10000;
// A whole read ends after this long even while data keeps trickling in; the
// text gathered so far counts, as when the 65536-byte cap is reached.
inline constexpr int kServiceReadLimitMs = 30000;

// The domain a WHOIS query asks for, fixed at build time.
std::string DefaultWhoisDomain();

// Reads the current stream up to the stop byte (0: up to the server's close),
// at most 65536 bytes, waiting at most receiveTimeoutMs for each piece of data
// and kServiceReadLimitMs in all. Returns the text trimmed of white space. A
// wait for data that expires reports "Timed out", a failed read "Recvfrom
// failed: ...", and both return an empty text.
std::string ReadServiceText(ProbeSocket& probe, char stopByte, int receiveTimeoutMs);

// Connects, reads one text with ReadServiceText and reports it as a success
// with the time of the read (also an empty one after a reported time-out).
void ProbeLineService(ProbeSocket& probe, const std::string& host, int port, char stopByte,
                      int receiveTimeoutMs);

// The members of the line-reading probe.
void ProbeDaytime(ProbeSocket& probe, const std::string& host, int port);        // line, 10 s
void ProbeQuoteOfTheDay(ProbeSocket& probe, const std::string& host, int port);  // to close, 1 s
void ProbeChargen(ProbeSocket& probe, const std::string& host, int port);        // line, 1 s
void ProbeWhoisPlusPlus(ProbeSocket& probe, const std::string& host, int port);  // line, 1 s
void ProbeRwhois(ProbeSocket& probe, const std::string& host, int port);         // line, 1 s

// RFC 868: reads the 4-byte time value and reports it as a success with the
// instant in asctime form ("Thu Jan 01 00:00:00 1970") and response time 0;
// "Unable to get time" when not exactly 4 bytes arrive.
void ProbeTime(ProbeSocket& probe, const std::string& host, int port);
// The text of a time value (seconds since 1900, UTC).
std::string FormatTimeValue(uint32_t secondsSince1900);

// Reads the server's opening text, refusing every option it proposes, and
// reports a success when the filtered text holds "login", else a failure with
// the filtered text.
void ProbeTelnet(ProbeSocket& probe, const std::string& host, int port);
// Drops Telnet commands (IAC, the command byte and the option byte) and every
// byte that is not CR, LF, a digit, an ASCII letter or a space.
std::string FilterTelnetText(std::string_view raw);

// Sends "domain <DefaultWhoisDomain()>\r\n", reads to the server's close and
// reports the first 255 characters as a success.
void ProbeWhois(ProbeSocket& probe, const std::string& host, int port);

// TFTP: the port of an entry without one, the file asked for when the entry
// names none, and the waits: each read request waits this long for an answer,
// and is sent this many times in all.
inline constexpr int kTftpDefaultPort = 69;
inline constexpr const char* kTftpDefaultFile = "quillmere-probe";
struct TftpTiming
{
    int replyWaitMs = 4000;
    int requests = 2;
};

// Asks host:port for fileName in octet mode over UDP. The answer may come from
// any port of the server's host (its transfer port); datagrams from other
// hosts are ignored. A DATA block proves the server up ("TFTP: DATA block 1,
// 512 bytes"; the transfer is then ended with an ERROR of our own), and so
// does an ERROR packet ("TFTP: ERROR 1 File not found"). Another reply fails
// the probe with what it was; silence through every request is "Timed out".
void ProbeTftp(ProbeSocket& probe, const std::string& host, int port, const std::string& fileName,
               const TftpTiming& timing = {});

} // namespace qm
