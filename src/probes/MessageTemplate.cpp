#include "probes/MessageTemplate.h"

#include <vector>

namespace qm {

std::string FormatTemplate(std::string_view tmpl, std::initializer_list<std::string_view> inserts)
{
    const std::vector<std::string_view> args(inserts);
    std::string out;
    out.reserve(tmpl.size() + 32);
    for (std::size_t i = 0; i < tmpl.size(); ++i) {
        // "%N!x!" with a single digit N and x one of s, d
        if (tmpl[i] == '%' && i + 4 < tmpl.size() && tmpl[i + 1] >= '1' && tmpl[i + 1] <= '9'
            && tmpl[i + 2] == '!' && (tmpl[i + 3] == 's' || tmpl[i + 3] == 'd') && tmpl[i + 4] == '!') {
            const std::size_t n = static_cast<std::size_t>(tmpl[i + 1] - '1');
            if (n < args.size())
                out.append(args[n]);
            i += 4;
            continue;
        }
        out.push_back(tmpl[i]);
    }
    return out;
}

} // namespace qm
