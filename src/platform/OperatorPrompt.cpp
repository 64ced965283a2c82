#include "platform/OperatorPrompt.h"

#include <cstdio>

namespace qm {

namespace {
const char* IconWord(OperatorPrompt::Icon icon)
{
    switch (icon) {
    case OperatorPrompt::Icon::Plain: return "";
    case OperatorPrompt::Icon::Information: return "info";
    case OperatorPrompt::Icon::Warning: return "warning";
    case OperatorPrompt::Icon::Stop: return "error";
    case OperatorPrompt::Icon::Question: return "question";
    }
    return "info";
}
} // namespace

const char* StderrPrompt::priority(Icon icon) const
{
    if (!m_journal)
        return "";
    switch (icon) {
    case Icon::Stop: return "<3>";
    case Icon::Warning: return "<4>";
    case Icon::Question: return "<5>";
    case Icon::Plain:
    case Icon::Information: break;
    }
    return "<6>";
}

void StderrPrompt::inform(Icon icon, const std::string& text)
{
    if (icon == Icon::Plain)
        std::fprintf(stderr, "%squillmere: %s\n", priority(icon), text.c_str());
    else
        std::fprintf(stderr, "%squillmere: %s: %s\n", priority(icon), IconWord(icon), text.c_str());
    std::fflush(stderr);
}

bool StderrPrompt::confirm(const std::string& text)
{
    std::fprintf(stderr, "%squillmere: question: %s (answered %s)\n", priority(Icon::Question), text.c_str(),
                 m_defaultAnswer ? "yes" : "no");
    std::fflush(stderr);
    return m_defaultAnswer;
}

} // namespace qm
