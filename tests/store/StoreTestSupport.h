#pragma once

#include "support/RecordingPrompt.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qm::test {

// Makes a fresh temporary folder the current directory for its lifetime.
class ScopedCurrentDir
{
public:
    ScopedCurrentDir() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~ScopedCurrentDir() { QDir::setCurrent(m_previous); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

inline QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the operator was shown, for failure output.
inline std::string Shown(const ScriptedPrompt& prompt)
{
    return ::testing::PrintToString(prompt.texts());
}

} // namespace qm::test
