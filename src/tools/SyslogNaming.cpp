#include "tools/SyslogNaming.h"

#include "probes/ProbeResult.h"

#include <cctype>
#include <climits>

namespace qm {

namespace {

constexpr uint32_t kFacilityMask = 0x78;
constexpr uint32_t kSeverityMask = 7;
constexpr uint32_t kCiscoAsyncFacility = 56;
constexpr uint32_t kCiscoAsyncSeverity = 3;

// The C library's atoi, without its undefined behaviour on overflow: leading
// white space, an optional sign, then digits up to the first other character.
int ParseInt(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negative ? -value : value);
}

} // namespace

SyslogNaming NameSyslogRecord(uint32_t facility, uint32_t severity)
{
    facility &= kFacilityMask;
    severity &= kSeverityMask;
    if (facility == kCiscoAsyncFacility && severity == kCiscoAsyncSeverity)
        return {"3_NORMAL", "CISCO ASYNC", true};

    static const char* const kFacilities[16] = {
        "KERNEL", "USER",         "MAIL", "SYSTEM", "SECURITY", "SYSLOGD", "PRINTER", "NNTP",
        "UUCP",   "CLOCKD",       "SECURITY PVT", "FTP", "NTP", "", "", "CLOCKD",
    };
    static const char* const kSeverities[8] = {
        "0_EMERGENCY", "1_ALERT", "2_CRITICAL", "3_ERROR", "4_WARNING", "5_NORMAL", "6_INFO", "7_DEBUG",
    };
    return {kSeverities[severity], kFacilities[facility / 8], severity >= 5};
}

int ParseSyslogDatagram(std::string_view text, const std::string& sender, ProbeResult& record)
{
    const std::size_t open = text.find('<');
    const std::size_t close = text.find('>');
    // Without "<" the number starts at the first character; without ">" (or
    // with ">" before "<") there is no number text and PRI is 0.
    const std::size_t first = open == std::string_view::npos ? 0 : open + 1;
    int pri = 0;
    if (close != std::string_view::npos && close >= first)
        pri = ParseInt(text.substr(first, close - first));

    const auto bits = static_cast<uint32_t>(pri);
    record.facility = bits & kFacilityMask;
    record.severity = bits & kSeverityMask;
    record.message = std::string(close == std::string_view::npos ? text : text.substr(close + 1));
    record.sourceAddress = sender;
    return pri;
}

} // namespace qm
