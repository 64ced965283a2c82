#pragma once

#include <string>

namespace qm {

// The operator-facing message boxes of the program. The GUI shows dialogs; the
// headless runner writes to stderr; tests script the answers.
class OperatorPrompt
{
public:
    // Plain: a message box with no icon, only the text and an OK button.
    enum class Icon { Plain, Information, Warning, Stop, Question };

    virtual ~OperatorPrompt() = default;
    // Tells the operator something and returns when it has been acknowledged.
    virtual void inform(Icon icon, const std::string& text) = 0;
    // Asks a yes/no question.
    virtual bool confirm(const std::string& text) = 0;
};

// Writes every message to standard error; questions are answered with the
// given default. When stderr is the systemd journal, each line starts with
// its priority ("<3>" for an error, "<4>" for a warning) for the journal to keep.
class StderrPrompt final : public OperatorPrompt
{
public:
    explicit StderrPrompt(bool defaultAnswer = false, bool journalPriorities = false)
        : m_defaultAnswer(defaultAnswer), m_journal(journalPriorities)
    {
    }
    void inform(Icon icon, const std::string& text) override;
    bool confirm(const std::string& text) override;

private:
    const char* priority(Icon icon) const;

    bool m_defaultAnswer;
    bool m_journal;
};

} // namespace qm
