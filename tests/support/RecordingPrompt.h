#pragma once

#include "platform/OperatorPrompt.h"

#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

// Keeps every message shown to the operator, from any thread, and answers
// questions from a script (then with the default answer).
class ScriptedPrompt final : public OperatorPrompt
{
public:
    struct Message
    {
        Icon icon;
        std::string text;
        bool question = false;
        std::thread::id thread = std::this_thread::get_id(); // the thread that showed it
    };

    explicit ScriptedPrompt(bool defaultAnswer = false) : m_defaultAnswer(defaultAnswer) {}

    void inform(Icon icon, const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({icon, text, false});
    }
    bool confirm(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back({Icon::Question, text, true});
        if (m_answers.empty())
            return m_defaultAnswer;
        const bool answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    void answerNext(bool answer)
    {
        std::lock_guard lock(m_mutex);
        m_answers.push_back(answer);
    }
    std::vector<Message> messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const auto& m : messages())
            out.push_back(m.text);
        return out;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Message> m_messages;
    std::deque<bool> m_answers;
    bool m_defaultAnswer;
};

} // namespace qm::test
