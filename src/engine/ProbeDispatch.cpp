#include "engine/ProbeDispatch.h"

#include "probes/ProbeSocket.h"

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

// Probes not built yet say so as a failure instead of polling silently.
void NotAvailable(ProbeSocket& p, std::string_view protocol)
{
    p.ReportFailure(std::string(protocol) + " probe is not available in this build");
}

constexpr std::array<DispatchEntry, 18> kDispatch{{
    {"ECHO", [](ProbeSocket& p, const PollArgs& a) { p.ProbeEcho(a.address); }},
    {"FTP", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "FTP"); }},
    {"HTTP", [](ProbeSocket& p, const PollArgs& a) { p.ProbeHttp(a.address, a.port, a.userId, a.password); }},
    {"POP3", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "POP3"); }},
    {"IMAP4", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "IMAP4"); }},
    {"SMTP", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "SMTP"); }},
    {"ESMTP", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "ESMTP"); }},
    {"NNTP", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "NNTP"); }},
    {"TIME", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "TIME"); }},
    {"DNS", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "DNS"); }},
    {"TELNET", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "TELNET"); }},
    {"DAYTIME", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "DAYTIME"); }},
    {"QUOTE OF THE DAY", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "QUOTE OF THE DAY"); }},
    {"CHARGEN", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "CHARGEN"); }},
    {"WHOIS", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "WHOIS"); }},
    {"WHOIS++", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "WHOIS++"); }},
    {"RWHOIS", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "RWHOIS"); }},
    {"TFTP", [](ProbeSocket& p, const PollArgs&) { NotAvailable(p, "TFTP"); }},
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
