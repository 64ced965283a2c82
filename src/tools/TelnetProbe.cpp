#include "tools/ServiceProbes.h"

#include "probes/MessageTemplate.h"
#include "probes/ProbeSocket.h"
#include "probes/SocketErrorText.h"

#include <algorithm>

namespace qm {

namespace {

constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;

// Keeps the operator-readable part of the stream. The counter follows IAC,
// command, option, exactly as the server's text has always been judged.
class TextFilter
{
public:
    // True when the byte was kept.
    bool feed(uint8_t b)
    {
        if (b == kIac) {
            ++m_counter;
            return false;
        }
        if (m_counter == 1) {
            m_counter = 2;
            return false;
        }
        if (m_counter == 2) {
            m_counter = 0;
            return false;
        }
        const bool keep = b == '\r' || b == '\n' || b == ' ' || (b >= '0' && b <= '9')
                       || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
        if (keep)
            m_text.push_back(static_cast<char>(b));
        return keep;
    }
    const std::string& text() const { return m_text; }

private:
    int m_counter = 0;
    std::string m_text;
};

// Follows the option negotiation and produces the refusals: WONT for every DO,
// DONT for every WILL. Nothing else is ever sent.
class Refuser
{
public:
    // The bytes to send after this byte, if any.
    std::string feed(uint8_t b)
    {
        switch (m_state) {
        case Data:
            if (b == kIac)
                m_state = Command;
            return {};
        case Command:
            if (b == kDo || b == kWill || b == kDont || b == kWont) {
                m_command = b;
                m_state = Option;
            } else {
                m_state = b == kSb ? Sub : Data; // IAC IAC is a data byte 255
            }
            return {};
        case Option:
            m_state = Data;
            if (m_command == kDo)
                return {char(kIac), char(kWont), char(b)};
            if (m_command == kWill)
                return {char(kIac), char(kDont), char(b)};
            return {};
        case Sub:
            if (b == kIac)
                m_state = SubIac;
            return {};
        case SubIac:
            m_state = b == kSe ? Data : Sub;
            return {};
        }
        return {};
    }

private:
    enum State { Data, Command, Option, Sub, SubIac } m_state = Data;
    uint8_t m_command = 0;
};

bool EndsWithLogin(const std::string& text)
{
    return text.size() >= 5 && text.compare(text.size() - 5, 5, "login") == 0;
}

} // namespace

std::string FilterTelnetText(std::string_view raw)
{
    TextFilter filter;
    for (char c : raw)
        filter.feed(static_cast<uint8_t>(c));
    return filter.text();
}

void ProbeTelnet(ProbeSocket& probe, const std::string& host, int port)
{
    if (!probe.ConnectStream(host, port))
        return;
    const uint32_t start = probe.clock().tick();
    // A telnet server shows its login prompt only after the client answered
    // its options, so the read answers them and ends once "login" is there;
    // otherwise at the server's close, the cap or the bounded wait.
    const int32_t bound = std::min(kServiceDataWaitMs, probe.limits().replyMs);
    TextFilter filter;
    Refuser refuser;
    bool readFailed = false;
    for (std::size_t count = 0; count < kMaxReplyBytes; ++count) {
        const int32_t left = bound - static_cast<int32_t>(probe.clock().tick() - start);
        if (left <= 0)
            break;
        const int b = probe.ReadByte(left);
        if (b == ProbeSocket::kPeerClosed || b == ProbeSocket::kReadTimedOut)
            break;
        if (b < 0) {
            probe.ReportFailure(FormatTemplate("Recvfrom failed: %1!s!", {SocketErrorText(probe.lastError())}));
            readFailed = true;
            break;
        }
        const std::string answer = refuser.feed(static_cast<uint8_t>(b));
        if (!answer.empty())
            probe.SendText(answer);
        if (filter.feed(static_cast<uint8_t>(b)) && EndsWithLogin(filter.text()))
            break;
    }
    const uint32_t end = probe.clock().tick();
    probe.CloseSocket();
    // After a failed read the text counts as empty, as a failed receive returns.
    std::string text = readFailed ? std::string() : TrimText(filter.text());
    if (text.find("login") == std::string::npos) {
        probe.ReportFailure(std::move(text));
        return;
    }
    probe.ReportSuccess(std::move(text), end - start);
}

} // namespace qm
