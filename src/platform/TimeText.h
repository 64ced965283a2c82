#pragma once

#include <ctime>
#include <string>

namespace qm {

// Local time formatted with strftime in the "C" locale, so day and month
// names are the English ones whatever the user's locale is: these texts end
// up in files and mails that other programs read.
std::string FormatLocalTime(const char* format, std::time_t when = std::time(nullptr));

} // namespace qm
