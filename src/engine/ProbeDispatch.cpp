#include "engine/ProbeDispatch.h"

#include "probes/ProbeSocket.h"
#include "tools/DnsProbe.h"
#include "tools/ServiceProbes.h"

#include <array>
#include <string_view>

namespace qm {

namespace {
using ProbeFn = void (*)(ProbeSocket&, const PollArgs&);

struct DispatchEntry
{
    std::string_view protocol;
    ProbeFn probe;
};

constexpr std::array<DispatchEntry, 19> kDispatch{{
    {"ECHO", [](ProbeSocket& p, const PollArgs& a) { p.ProbeEcho(a.address); }},
    {"FTP", [](ProbeSocket& p, const PollArgs& a) { p.ProbeFtp(a.address, a.port, a.userId, a.password); }},
    {"HTTP", [](ProbeSocket& p, const PollArgs& a) { p.ProbeHttp(a.address, a.port, a.userId, a.password); }},
    {"HTTPS", [](ProbeSocket& p, const PollArgs& a) { p.ProbeHttps(a.address, a.port, a.userId, a.password, a.certWarnDays); }},
    {"POP3", [](ProbeSocket& p, const PollArgs& a) { p.ProbePop3(a.address, a.port, a.userId, a.password, a.domain); }},
    {"IMAP4", [](ProbeSocket& p, const PollArgs& a) { p.ProbeImap4(a.address, a.port, a.userId, a.password, a.domain); }},
    {"SMTP", [](ProbeSocket& p, const PollArgs& a) { p.ProbeSmtp(a.address, a.port, a.userId, a.password, a.domain); }},
    {"ESMTP", [](ProbeSocket& p, const PollArgs& a) { p.ProbeEsmtp(a.address, a.port, a.userId, a.password, a.domain); }},
    {"NNTP", [](ProbeSocket& p, const PollArgs& a) { p.ProbeNntp(a.address, a.port, a.userId, a.password, a.domain); }},
    {"TIME", [](ProbeSocket& p, const PollArgs& a) { ProbeTime(p, a.address, a.port); }},
    {"DNS", [](ProbeSocket& p, const PollArgs& a) { ProbeDns(p, a.address, a.port, DnsQueryNameFor(a.domain, a.dnsQueryName), a.prompt); }},
    {"TELNET", [](ProbeSocket& p, const PollArgs& a) { ProbeTelnet(p, a.address, a.port); }},
    {"DAYTIME", [](ProbeSocket& p, const PollArgs& a) { ProbeDaytime(p, a.address, a.port); }},
    {"QUOTE OF THE DAY", [](ProbeSocket& p, const PollArgs& a) { ProbeQuoteOfTheDay(p, a.address, a.port); }},
    {"CHARGEN", [](ProbeSocket& p, const PollArgs& a) { ProbeChargen(p, a.address, a.port); }},
    {"WHOIS", [](ProbeSocket& p, const PollArgs& a) { ProbeWhois(p, a.address, a.port); }},
    {"WHOIS++", [](ProbeSocket& p, const PollArgs& a) { ProbeWhoisPlusPlus(p, a.address, a.port); }},
    {"RWHOIS", [](ProbeSocket& p, const PollArgs& a) { ProbeRwhois(p, a.address, a.port); }},
    {"TFTP", [](ProbeSocket& p, const PollArgs& a) { ProbeTftp(p, a.address, a.port, a.domain); }},
}};
} // namespace

bool RunProbe(ProbeSocket& probe, const std::string& protocol, const PollArgs& args)
{
    bool ran = false;
    for (const auto& entry : kDispatch) {
        if (entry.protocol == protocol) {
            entry.probe(probe, args);
            ran = true;
        }
    }
    return ran;
}

} // namespace qm
