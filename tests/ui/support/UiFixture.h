#pragma once

#include "store/HostColumns.h"
#include "support/EventPump.h"

#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qm::test {

// Runs the event loop until done() holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    return PumpEventsUntil(done, std::chrono::milliseconds(timeoutMs));
}

// The child of that name and type; a missing one fails the test.
template <class T>
T* Find(const QObject& in, const char* name)
{
    T* w = in.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// A temporary folder for the settings file and the results database of one
// test; nothing touches the user's own files.
class TempFiles
{
public:
    QString settingsFile() const { return m_dir.filePath(QStringLiteral("Quillmere.conf")); }
    QString databaseFile() const { return m_dir.filePath(QStringLiteral("results.db")); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

} // namespace qm::test
