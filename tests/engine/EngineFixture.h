#pragma once

#include "engine/HostListModel.h"
#include "engine/MessagePaneModel.h"
#include "engine/MonitorController.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"
#include "support/EventPump.h"
#include "support/HostRows.h"
#include "support/RecordingPrompt.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace qm::test {

class FakeRecorder : public ResultRecorder
{
public:
    bool RecordResults(const QString& host, const QString& protocol, const QString& port,
                       const QString& frequency, const QString& time, const QString& message,
                       const QString& failure) override
    {
        rows.push_back(QStringList{host, protocol, port, frequency, time, message, failure}
                           .join('|')
                           .toStdString());
        return accept;
    }
    // Each result's fields joined by '|'.
    std::vector<std::string> rows;
    bool accept = true;
};

class FakeNotifier : public Notifier
{
public:
    void notify(const Notification& n) override { sent.push_back(n); }
    std::vector<Notification> sent;
};

// A notification's kind and each thing it does, a line each, to compare whole.
inline std::string Describe(const Notification& n)
{
    QStringList parts{n.kind == Notification::Down ? "down" : "up"};
    if (n.desktop)
        parts << "desktop: " + n.desktopSummary + " | " + n.desktopBody;
    if (n.page)
        parts << "page: " + n.pagerSequence;
    if (n.sound)
        parts << "sound: " + n.soundFile;
    if (n.mail)
        parts << "mail from " + n.mailFrom + " to " + n.mailTo + " via " + n.mailServer + ": " + n.subject + "\n" + n.body;
    if (!n.traceRouteHost.isEmpty())
        parts << "trace route: " + n.traceRouteHost;
    return parts.join('\n').toStdString();
}

// A host list, message pane and controller over a temporary settings file.
class EngineFixture : public ::testing::Test
{
protected:
    ~EngineFixture() override { stopMonitoring(); }

    // Stops monitoring and lets the workers hand their sessions back before
    // the queue goes away; false if they did not in time.
    bool stopMonitoring()
    {
        if (!m_controller)
            return true;
        m_controller->OnMonitoringStop();
        return PumpEventsUntil([this] { return m_controller->liveThreads() == 0; },
                               std::chrono::seconds(15));
    }
    // Appends a row; returns its index.
    int addRow(const HostTexts& row) { return m_hosts.insertHost(m_hosts.rowCount(), row); }
    MonitorController& controller()
    {
        if (!m_controller) {
            MonitorController::Services services;
            services.recorder = &m_recorder;
            services.pane = &m_pane;
            services.notifier = &m_notifier;
            services.syslogListener = m_listener;
            services.workerPrompt = &m_prompt;
            m_controller = std::make_unique<MonitorController>(m_hosts, m_settings, services);
        }
        return *m_controller;
    }
    // A result of the worker with this thread identifier, delivered as the
    // main thread would.
    void success(uint32_t tid, const std::string& message, uint32_t ms)
    {
        controller().OnPollSuccess(tid, MakeResult(message, ms));
    }
    void failure(uint32_t tid, const std::string& message) { controller().OnPollFailure(tid, MakeResult(message)); }

    QTemporaryDir m_dir;
    SettingsStore m_settings{m_dir.filePath("settings.ini")};
    HostListModel m_hosts;
    MessagePaneModel m_pane;
    FakeRecorder m_recorder;
    FakeNotifier m_notifier;
    MonitorController::SyslogListener m_listener;
    ScriptedPrompt m_prompt; // what workers show the operator
    std::unique_ptr<MonitorController> m_controller;
};

} // namespace qm::test
