#include "platform/TimeText.h"

#include <locale.h>

namespace qm {

std::string FormatLocalTime(const char* format, std::time_t when)
{
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    std::tm local{};
    ::localtime_r(&when, &local);
    char buffer[128];
    const std::size_t n = cLocale != locale_t(nullptr) ? ::strftime_l(buffer, sizeof buffer, format, &local, cLocale)
                                                       : std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, n);
}

} // namespace qm
