#pragma once

#include "engine/HostListModel.h"
#include "engine/MessagePaneModel.h"
#include "engine/MonitorController.h"
#include "store/HostStore.h"
#include "store/SettingsStore.h"
#include "support/HostRows.h"

#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace qm::test {

struct RecordedResult
{
    QString host, protocol, port, frequency, time, message, failure;
};

class FakeRecorder : public ResultRecorder
{
public:
    bool RecordResults(const QString& host, const QString& protocol, const QString& port, const QString& frequency,
                       const QString& time, const QString& message, const QString& failure) override
    {
        rows.push_back({host, protocol, port, frequency, time, message, failure});
        return accept;
    }
    std::vector<RecordedResult> rows;
    bool accept = true;
};

class FakeNotifier : public Notifier
{
public:
    void notify(const Notification& n) override { sent.push_back(n); }
    std::vector<Notification> sent;
};


// Runs the Qt event loop until pred() holds or the timeout passes.
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

// A host list, message pane and controller over a temporary settings file.
class EngineFixture : public ::testing::Test
{
protected:
    EngineFixture();
    ~EngineFixture() override;

    int addRow(const HostTexts& row); // appends; returns the row index
    MonitorController& controller();
    void success(uint32_t tid, const std::string& message, uint32_t ms);
    void failure(uint32_t tid, const std::string& message);

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    HostListModel m_hosts;
    MessagePaneModel m_pane;
    FakeRecorder m_recorder;
    FakeNotifier m_notifier;
    MonitorController::SyslogListener m_listener;
    std::unique_ptr<MonitorController> m_controller;
};

} // namespace qm::test
