#pragma once

#include "support/RecordingSink.h"

#include <string>
#include <vector>

namespace qm::test {

// The success and failure reports of a sink as "ok: <message>" and
// "fail: <message>", in order.
inline std::vector<std::string> ReportTexts(const RecordingSink& sink)
{
    std::vector<std::string> out;
    for (const auto& r : sink.results())
        out.push_back((r.kind == RecordingSink::Report::Success ? "ok: " : "fail: ") + r.result.message);
    return out;
}

} // namespace qm::test
