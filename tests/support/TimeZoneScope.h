#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace qm::test {

// Puts the process in the time zone (a TZ value such as "Europe/Berlin" or
// "EST5") until destroyed, then restores the zone it had.
class TimeZoneScope
{
public:
    explicit TimeZoneScope(const char* zone)
    {
        if (const char* tz = std::getenv("TZ"))
            m_previous = tz;
        set(zone);
    }
    ~TimeZoneScope()
    {
        if (m_previous)
            ::setenv("TZ", m_previous->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    TimeZoneScope(const TimeZoneScope&) = delete;
    TimeZoneScope& operator=(const TimeZoneScope&) = delete;

    void set(const char* zone)
    {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }

private:
    std::optional<std::string> m_previous;
};

} // namespace qm::test
