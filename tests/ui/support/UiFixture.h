#pragma once

#include "engine/MonitorSystem.h"
#include "store/SettingsStore.h"
#include "support/EventPump.h"
#include "support/RecordingPrompt.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace qm::test {

using namespace std::chrono_literals;

// The child of that name and type; a missing one fails the test.
template <class T>
T* Find(const QObject& in, const char* name)
{
    T* w = in.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// The pixels of an icon at list size, to tell which image a cell shows.
inline QImage Pixels(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage();
}

// Types a name into the host wizard's host box and leaves the box, which
// starts the name's look-up.
inline void LeaveHostBox(const QObject& wizard, const QString& host)
{
    auto* edit = Find<QLineEdit>(wizard, "hostEdit");
    edit->setText(host);
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(edit, &out);
}

// A settings file and a results database in a folder of the test's own
// (nothing touches the user's files), and a prompt that records what the
// operator would be told. openSystem() starts the monitor over them as the
// program does at start, again for a second start.
class UiTest : public ::testing::Test
{
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString settingsFile() const { return path(QStringLiteral("Quillmere.conf")); }

    void openSystem()
    {
        m_system.reset();
        m_store = std::make_unique<SettingsStore>(settingsFile());
        m_system = std::make_unique<MonitorSystem>(*m_store, MonitorSystem::Prompts{&m_prompt, &m_prompt},
                                                   path(QStringLiteral("results.db")));
        m_system->loadHosts();
    }
    // The stored value as a string; "unset" when nothing is stored.
    QString stored(const char* section, const char* name) const
    {
        return m_store->readString(QLatin1String(section), QLatin1String(name), QStringLiteral("unset"));
    }

    QTemporaryDir m_dir;
    ScriptedPrompt m_prompt;
    std::unique_ptr<SettingsStore> m_store = std::make_unique<SettingsStore>(settingsFile());
    std::unique_ptr<MonitorSystem> m_system;
};

} // namespace qm::test
