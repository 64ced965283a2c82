#include "probes/ProtocolTable.h"

#include <array>

namespace qm {

namespace {
constexpr std::array<ProtocolInfo, 20> kProtocols{{
    {"ECHO", 7, true},
    {"HTTP", 80, true},
    {"HTTPS", 443, true},
    {"FTP", 21, true},
    {"POP3", 110, true},
    {"IMAP4", 143, true},
    {"SMTP", 25, true},
    {"ESMTP", 25, true},
    {"NNTP", 119, true},
    {"TIME", 37, true},
    {"DNS", 53, true},
    {"DAYTIME", 13, true},
    {"QUOTE OF THE DAY", 17, true},
    {"CHARGEN", 19, true},
    {"WHOIS", 43, true},
    {"WHOIS++", 63, true},
    {"RWHOIS", 4321, true},
    {"SYSLOG", 514, true},
    {"TELNET", 23, false},
    {"TFTP", 69, false},
}};
} // namespace

std::span<const ProtocolInfo> ProtocolTable()
{
    return kProtocols;
}

const ProtocolInfo* FindProtocol(std::string_view name)
{
    for (const auto& p : kProtocols)
        if (p.name == name)
            return &p;
    return nullptr;
}

} // namespace qm
