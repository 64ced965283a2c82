#include "tools/ServiceProbes.h"

#include "probes/ProbeSocket.h"

#include <cstdio>
#include <ctime>

namespace qm {

namespace {
constexpr int64_t kSecondsFrom1900To1970 = 2208988800LL;
constexpr int64_t kTimeValueEra = 1LL << 32;
constexpr int kTimeValueBytes = 4;
} // namespace

std::string FormatTimeValue(uint32_t secondsSince1900)
{
    // RFC 868 counts seconds from 1900 in 32 bits, so the count wraps on
    // 2036-02-07. A value that would lie before 1970 is no clock reading a
    // server gives today; it is read as a count of the next era instead, so
    // every value shows an instant from 1970 to 2106.
    int64_t seconds = int64_t(secondsSince1900) - kSecondsFrom1900To1970;
    if (seconds < 0)
        seconds += kTimeValueEra;
    const std::time_t instant = static_cast<std::time_t>(seconds);
    std::tm utc{};
    ::gmtime_r(&instant, &utc);
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof(text), "%s %s %02d %02d:%02d:%02d %d", kDays[utc.tm_wday % 7],
                  kMonths[utc.tm_mon % 12], utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  utc.tm_year + 1900);
    return text;
}

void ProbeTime(ProbeSocket& probe, const std::string& host, int port)
{
    if (!probe.ConnectStream(host, port))
        return;
    // The value is taken from what one receive brings: the first byte may be
    // waited for, the other three must have come with it.
    uint32_t value = 0;
    int count = 0;
    for (; count < kTimeValueBytes; ++count) {
        const int b = probe.ReadByte(count == 0 ? kServiceDataWaitMs : 0);
        if (b < 0)
            break;
        value = (value << 8) | static_cast<uint32_t>(b);
    }
    probe.CloseSocket();
    if (count != kTimeValueBytes) {
        probe.ReportFailure("Unable to get time");
        return;
    }
    probe.ReportSuccess(FormatTimeValue(value), 0);
}

} // namespace qm
