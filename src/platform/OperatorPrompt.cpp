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

void StderrPrompt::inform(Icon icon, const std::string& text)
{
    if (icon == Icon::Plain)
        std::fprintf(stderr, "quillmere: %s\n", text.c_str());
    else
        std::fprintf(stderr, "quillmere: %s: %s\n", IconWord(icon), text.c_str());
    std::fflush(stderr);
}

bool StderrPrompt::confirm(const std::string& text)
{
    std::fprintf(stderr, "quillmere: question: %s (answered %s)\n", text.c_str(),
                 m_defaultAnswer ? "yes" : "no");
    std::fflush(stderr);
    return m_defaultAnswer;
}

} // namespace qm
