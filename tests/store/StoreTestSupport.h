#pragma once

#include "platform/OperatorPrompt.h"

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qm::test {

// Keeps every message the code under test shows to the operator.
class RecordingPrompt final : public OperatorPrompt
{
public:
    struct Message
    {
        Icon icon;
        std::string text;
    };
    void inform(Icon icon, const std::string& text) override { messages.push_back({icon, text}); }
    bool confirm(const std::string&) override { return false; }

    std::vector<std::string> texts() const;
    // All texts joined by new lines, for failure output.
    std::string all() const;
    std::vector<Message> messages;
};

// Makes a fresh temporary folder the current directory for its lifetime.
class ScopedCurrentDir
{
public:
    ScopedCurrentDir();
    ~ScopedCurrentDir();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// Runs the Qt event loop until the condition holds; false on time-out.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

QByteArray ReadBytes(const QString& path);

} // namespace qm::test
